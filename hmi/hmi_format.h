// One named text of an HMI format list (a selection set, a screen format).
#pragma once
#include <string>

struct hmi_format {
  hmi_format* next = nullptr;
  std::string text;
};
