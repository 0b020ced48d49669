// Instructions that move or re-code values between variables: Map (array
// and individual variables), Translate (count to code and back), Lookup
// (linear interpolation in a table) and Fan (one block of several).
#pragma once
#include <string>
#include <vector>

#include "core/rows.h"

inline constexpr u16 ARRAY_MAX_GROUPS = 128;

// Copies between an array and individually named variables.
class Map : public WithRows<Map> {
 public:
  enum Direction : u8 { ToArray = 0, FromArray = 1 };
  struct Entry {
    pIdata individual;
    std::string description;  // empty: none
  };

  Map(Control* prev, const char* desc, u16 n);
  u16 num() const override { return 17; }
  Control* execute() override;
  bool resize(u16 n) override;
  u16 group_count() const { return static_cast<u16>(entries_.size()); }
  static const RowTable<Map> rows;

 private:
  void revalidate();

  pIdata array_;
  u8 direction_ = ToArray;
  std::vector<Entry> entries_;
};

// Maps a count to a code from a table, or a code back to its position.
class Translate : public WithRows<Translate> {
 public:
  enum Direction : u8 { CountToRandom = 0, RandomToCount = 1 };
  struct Entry {
    u32 match = 0;
  };

  Translate(Control* prev, const char* desc, u16 n);
  u16 num() const override { return 26; }
  Control* execute() override;
  bool resize(u16 n) override;
  u16 group_count() const { return static_cast<u16>(entries_.size()); }
  static const RowTable<Translate> rows;

 private:
  pIdata input_, result_;
  u8 direction_ = CountToRandom;
  std::vector<Entry> entries_;
};

// Interpolates linearly in a table of (raw, converted) pairs with raw
// values in ascending order; no extrapolation.
class Lookup : public WithRows<Lookup> {
 public:
  struct Pair {
    float raw = 0, converted = 0;
  };

  Lookup(Control* prev, const char* desc, u16 n);
  u16 num() const override { return 29; }
  Control* execute() override;
  bool resize(u16 n) override;
  u16 group_count() const { return static_cast<u16>(pairs_.size()); }
  static const RowTable<Lookup> rows;

 private:
  pIdata input_, result_;
  std::vector<Pair> pairs_;
};

// Copies one block of B values between a single block and block k of K
// consecutive blocks, k chosen by a count or by elapsed time.
class Fan : public WithRows<Fan> {
 public:
  enum Direction : u8 { ManyToOne = 0, OneToMany = 1 };

  Fan(Control* prev, const char* desc, u16 n);
  u16 num() const override { return 13; }
  Control* execute() override;
  static const RowTable<Fan> rows;

 private:
  void revalidate();
  u16 select_block();

  pIdata source_, destination_;
  pIdata count_index_, time_index_, time_def_, last_period_;
  u16 block_size_ = 1, blocks_ = 1;
  u8 direction_ = ManyToOne;
};
