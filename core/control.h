// Control: base of every module and instruction, and the parameter protocol
// through which clients, the program file and configuration pages read and
// write settings without knowing the class.
#pragma once
#include <atomic>
#include <string>

#include "core/variable.h"

// Parameter type codes. They travel on the wire and in the program file.
namespace ptype {
inline constexpr u16 Float = 0;
inline constexpr u16 Date = 1;
inline constexpr u16 Time = 2;       // a duration in seconds in instructions
inline constexpr u16 Dec = 3;        // decimal integer
inline constexpr u16 Hex = 4;        // hex integer
inline constexpr u16 Select = 5;     // index into the row's choice list
inline constexpr u16 DateTime = 6;   // HMI variable objects only
inline constexpr u16 Key = 7;        // encryption key
inline constexpr u16 SelSet = 9;     // 1-based selection set position, 0 none
inline constexpr u16 Ref = 263;      // variable reference
inline constexpr u16 Text = 264;
}  // namespace ptype

// Shape of a parameter list.
struct Ilparam {
  u16 rows = 0;        // fixed rows
  u16 group_rows = 0;  // rows per repeated group
  u16 groups = 0;      // repeated groups present
};

// One parameter value in transit.
struct Iparam {
  const char* text = nullptr;  // lent: setters copy, getters point inside
  u16 type = 0;
  u16 user = 0;  // client slot (HMI objects)
  pIdata ref{};
  u32 value = 0;  // float bits for type 0, otherwise unsigned
  u16 count = 0;
  u32 arr[9]{};

  float f() const { return bits_float(value); }
  void set_float(float v) {
    type = ptype::Float;
    value = float_bits(v);
  }
  void set_uint(u16 t, u32 v) {
    type = t;
    value = v;
  }
};

// Changes whenever an element joins or leaves a program list or a block of
// elements is moved (main thread, scan stopped). What the scan derives from
// the order of the list (the jump targets of conditional blocks) is worked
// out again when it has changed.
inline std::atomic<u32> program_shape{1};
inline void program_shape_changed() { program_shape.fetch_add(1, std::memory_order_relaxed); }

class Control {
 public:
  Control* prev = nullptr;
  Control* next = nullptr;
  std::string desc;
  u32 file_pos = 0;  // byte position of the record in the program file

  // Linked directly after prev (standing alone when prev is null).
  Control(Control* prev, const char* desc);
  virtual ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  virtual void new_desc(const char* text);
  virtual u16 num() const { return 0; }
  virtual Control* execute() { return next; }
  virtual Ivar* rvar() const { return nullptr; }
  virtual bool lparam(Ilparam* shape);
  virtual const char* dparam() { return nullptr; }
  virtual bool gparam(Iparam* p, u16 group, u16 row);
  virtual bool sparam(Iparam* p, u16 group, u16 row);
  virtual bool resize(u16 n);
};
