#include "hmi/dispatch.h"

#include "hmi/commands.h"

namespace {

using A = Access;

// Keywords are compared exactly, in this order; the first equal one wins.
const HmiEntry kCommands[] = {
    {"rsys", A::UpToLevel1, cmd_rsys},
    {"ssys", A::UpToLevel1, cmd_ssys},
    {"rdate", A::Any, cmd_rdate},
    {"sdate", A::UpToLevel1, cmd_sdate},
    {"new", A::Programmer, cmd_new},
    {"start", A::Any, cmd_start},
    {"refresh", A::Any, cmd_refresh},
    {"term", A::Any, cmd_term},
    {"flush", A::Any, cmd_flush},
    {"loop", A::Any, cmd_loop},
    {"apos", A::Any, cmd_apos},
    {"rapos", A::Any, cmd_rapos},
    {"alist", A::Any, cmd_alist},
    {"posh", A::Any, cmd_posh},
    {"ipos", A::Any, cmd_ipos},
    {"inst", A::Any, cmd_inst},
    {"mod", A::Any, cmd_mod},
    {"pos", A::Any, cmd_pos},
    {"up", A::Any, cmd_up},
    {"down", A::Any, cmd_down},
    {"pgup", A::Any, cmd_pgup},
    {"pgdn", A::Any, cmd_pgdn},
    {"init", A::Any, cmd_init},
    {"insert", A::Programmer, cmd_insert},
    {"name", A::Any, cmd_name},
    {"ren", A::Programmer, cmd_ren},
    {"blocks", A::Programmer, cmd_blocks},
    {"blocke", A::Programmer, cmd_blocke},
    {"blockc", A::Any, cmd_blockc},
    {"del", A::Programmer, cmd_del},
    {"copy", A::Programmer, cmd_copy},
    {"extract", A::Programmer, cmd_extract},
    {"move", A::Programmer, cmd_move},
    {"lvar", A::Any, cmd_lvar},
    {"livar", A::Any, cmd_livar},
    {"svar", A::Any, cmd_svar},
    {"rvar", A::Any, cmd_rvar},
    {"mivar", A::Any, cmd_mivar},
    {"lconfig", A::ByTarget, cmd_lconfig},
    {"gquorfig", A::ByTarget, cmd_gquorfig},
    {"gconfig", A::ByTarget, cmd_gconfig},
    {"sconfig", A::ByTarget, cmd_sconfig},
    {"resize", A::Programmer, cmd_resize},
    {"num", A::Any, cmd_num},
    {"varen", A::Programmer, cmd_varen},
    {"run", A::Programmer, cmd_run},
    {"stop", A::Programmer, cmd_stop},
    {"cont", A::Programmer, cmd_cont},
    {"step", A::Programmer, cmd_step},
    {"sbreak", A::Programmer, cmd_sbreak},
    {"cbreak", A::Programmer, cmd_cbreak},
    {"status", A::Any, cmd_status},
    {"save", A::Programmer, cmd_save},
    {"load", A::Programmer, cmd_load},
    {"mvar", A::NoProgrammer0, cmd_mvar},
    {"auth", A::NoProgrammer0, cmd_auth},
    {"logoff", A::Any, cmd_logoff},
    {"users", A::Any, cmd_users},
    // Screen commands.
    {"ihmis", A::Programmer, cmd_ihmis},
    {"lhmis", A::Any, cmd_lhmis},
    {"shmis", A::Programmer, cmd_shmis},
    {"dhmis", A::Any, cmd_dhmis},
    {"vhmiloc", A::Any, cmd_vhmiloc},
    {"gfhmi", A::Any, cmd_gfhmi},
    {"sfhmi", A::Programmer, cmd_sfhmi},
    {"hinsert", A::Programmer, cmd_hinsert},
    {"dhmi", A::Programmer, cmd_dhmi},
    {"chmi", A::Programmer, cmd_chmi},
    {"hdel", A::Programmer, cmd_hdel},
    {"hpos", A::Any, cmd_hpos},
    {"hlist", A::Any, cmd_hlist},
    {"rhmi", A::Any, cmd_rhmi},
    {"minst", A::Any, cmd_minst},
    {"lhmiw", A::Any, cmd_lhmiw},
    {"shmiw", A::Any, cmd_shmiw},
    {"ehmiw", A::Level1, cmd_ehmiw},
    {"gpos", A::Any, cmd_gpos},
    {"alive", A::LoggedIn, cmd_alive},
    // History and file commands.
    {"sper", A::Any, cmd_sper},
    {"hper", A::Any, cmd_hper},
    {"tper", A::Any, cmd_tper},
    {"dper", A::Any, cmd_dper},
    {"sevt", A::Any, cmd_sevt},
    {"hevt", A::Any, cmd_hevt},
    {"tevt", A::Any, cmd_tevt},
    {"devt", A::Any, cmd_devt},
    {"pevt", A::Any, cmd_pevt},
    {"fdel", A::UpToLevel1, cmd_fdel},
    {"fren", A::UpToLevel1, cmd_fren},
    {"fcopy", A::UpToLevel1, cmd_fcopy},
    {"fdir", A::Any, cmd_fdir},
    {"gdisk", A::Any, cmd_gdisk},
    {"flen", A::Any, cmd_flen},
    {"varp", A::Any, cmd_varp},
    {"shmiwc", A::Any, cmd_shmiwc},
    {"lmt", A::Any, cmd_lmt},
    {"llt", A::Any, cmd_llt},
    {"lpt", A::Any, cmd_lpt},
    {"lnxt", A::Any, cmd_lnxt},
    {"sname", A::Any, cmd_sname},
};

}  // namespace

const HmiEntry* find_command(std::string_view kw) {
  for (const auto& e : kCommands)
    if (kw == e.keyword) return &e;
  return nullptr;
}

std::span<const HmiEntry> command_table() {
  return {kCommands, sizeof kCommands / sizeof kCommands[0]};
}

bool access_met(Access a, int slot) {
  u8 p = priority[slot];
  switch (a) {
    case Access::Any:
    case Access::ByTarget:
      return true;
    case Access::LoggedIn:
      return p != 255;
    case Access::UpToLevel1:
      return p <= 1;
    case Access::Programmer:
      return p == 0;
    case Access::Level1:
      return p == 1;
    case Access::NoProgrammer0:
      return priority[0] != 0;
  }
  return false;
}
