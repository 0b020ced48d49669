#include "program/naming.h"

#include <cstring>

bool valid_char(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u >= 32 && u <= 126 && c != '|';
}

bool valid_name(const char* s) {
  if (!s) return false;
  for (; *s; ++s)
    if (!valid_char(*s)) return false;
  return true;
}

bool check_reserved(const char* s) {
  if (!s) return false;
  static const char* const kReserved[] = {"Loop_1", "Loop_2", "Loop_3", "Loop_4", "End", "System"};
  for (const char* r : kReserved)
    if (!std::strcmp(s, r)) return false;
  return true;
}

bool check_desc(const char* s) { return s && check_reserved(s) && valid_name(s); }
