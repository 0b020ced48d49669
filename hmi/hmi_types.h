// The seven screen object types. Type 0 (Frame) is HMI_object itself.
// Each type lists its rows once in a RowTable (the four base rows first)
// from which the descriptor, lparam, gparam and sparam follow.
#pragma once
#include <string>

#include "hmi/hmi_object.h"

// A class with a RowTable named `rows` gets the editing view from it.
template <class T>
class HmiRows : public HMI_object {
 public:
  using HMI_object::HMI_object;
  bool lparam(Ilparam* s) override { return T::rows.lparam(self(), s); }
  const char* dparam() override { return T::rows.descriptor(); }
  bool gparam(Iparam* p, u16 g, u16 r) override { return T::rows.get(self(), p, g, r); }
  bool sparam(Iparam* p, u16 g, u16 r) override {
    scan_requires(Pause::Paused);
    return T::rows.set(self(), p, g, r);
  }

 private:
  T& self() { return static_cast<T&>(*this); }
};

// Type 1: switches the operator's screen.
class Button : public HmiRows<Button> {
 public:
  std::string target;  // screen name, empty: none
  u8 control = 0;      // high nibble window control (0..2), low nibble loop (0..4)

  using HmiRows::HmiRows;
  u16 num() const override { return 1; }
  bool gexec(Iparam* p) override;
  bool gexeci(Iparam* p) override;
  static const RowTable<Button> rows;
};

// Display formats of a Variable object.
enum VarFormat : u8 { FmtFloat = 6, FmtTime = 7, FmtDecInt = 8, FmtHexInt = 9, FmtSelSet = 10,
                      FmtDate = 11, FmtDateTime = 12 };

// Type 2: one variable cell shown with a format and a widget.
class Variable : public HmiRows<Variable> {
 public:
  pIdata var{};
  hmi_format* selection = nullptr;  // entry of format list 0
  u8 fmt = 0;                       // 0..12
  u8 widget = 0;                    // 0..11
  u8 override_ = 0;                 // 0 or 1
  float min = OVERFLOW_VALUE, max = OVERFLOW_VALUE;
  u32 style = 0xFFFFFFFFu;

  using HmiRows::HmiRows;
  u16 num() const override { return 2; }
  bool gexec(Iparam* p) override;
  bool gexeci(Iparam* p) override;
  bool gexecv(Iparam* p) override;
  bool sexec(Iparam* p, int slot) override;
  hmi_format* format() const override { return selection; }
  void forget(const hmi_format* f, const Control*) override {
    if (f && f == selection) selection = nullptr;
  }
  // Record type and index field of the display format.
  u16 display_type() const;
  static const RowTable<Variable> rows;
};

// Type 3: an instruction of the object's module, presented to operators
// with a descriptor from the format list of the instruction's type.
class Instruction : public HmiRows<Instruction> {
 public:
  hmi_format* screen_format = nullptr;
  Control* inst = nullptr;

  using HmiRows::HmiRows;
  u16 num() const override { return 3; }
  bool gexec(Iparam* p) override;
  hmi_format* format() const override { return screen_format; }
  void forget(const hmi_format* f, const Control* c) override {
    if ((f && f == screen_format) || (c && c == inst)) screen_format = nullptr, inst = nullptr;
  }
  static const RowTable<Instruction> rows;
};

// Type 4: a link to help, a picture, a program or a history file.
class Resource : public HmiRows<Resource> {
 public:
  std::string address;
  u8 kind = 0;  // 0 Help, 1 Picture, 2 Program, 3 Historical file

  using HmiRows::HmiRows;
  u16 num() const override { return 4; }
  bool gexec(Iparam* p) override;
  bool gexeci(Iparam* p) override;
  static const RowTable<Resource> rows;
};

// Common part of the two graphs: scale (constants or variables) and interval.
class Graf {
 public:
  u8 decimals = 0;  // Graph_vars: decimals or digital; Graph_bins: file
  u8 interval = 3;
  float min = 0.0f, max = 100.0f;
  pIdata min_var{}, max_var{};
  std::string min_text, max_text;
  u8 kind = 0;  // 0 Constant, 1 Variable

  // Row 5/6 as read: float bits (Constant) or the text (Variable).
  void get_limit(bool upper, Iparam& p) const;
  // Row 5/6 written: a float sets the constant, a text the variable (or a
  // number); either is accepted whatever the kind, so rows may arrive in
  // any order.
  bool set_limit(bool upper, const Iparam& p, Module* m);
  // Minimum and maximum from their variables when the kind is Variable.
  void refresh();
};

// Type 5: up to five variables plotted over time.
class Grafv : public HmiRows<Grafv>, public Graf {
 public:
  pIdata vars[5]{};
  std::string captions;  // five fields of 47 characters, "~" between
  std::string caption_out[5];  // the captions as last read (rows lend them)

  using HmiRows::HmiRows;
  u16 num() const override { return 5; }
  bool gexec(Iparam* p) override;
  bool gexeci(Iparam* p) override;
  bool gexecv(Iparam* p) override;
  // Caption k (0..4) without its padding.
  std::string caption(int k) const;
  void set_caption(int k, const char* text);
  static const RowTable<Grafv> rows;
};

// Type 6: bins of a periodic file or events of an event file.
class Grafb : public HmiRows<Grafb>, public Graf {
 public:
  u16 bins[5]{};    // 0..1024
  u8 graph_type = 0;  // 0 Periodic, 1 Event

  using HmiRows::HmiRows;
  u16 num() const override { return 6; }
  bool gexec(Iparam* p) override;
  bool gexeci(Iparam* p) override;
  bool gexecv(Iparam* p) override;
  static const RowTable<Grafb> rows;
};

// Cell value to the unsigned pattern the integer formats send: truncated,
// NaN 0, negatives as their two's complement (from -2^31), saturated above.
u32 hmi_cell_to_u32(float v);
