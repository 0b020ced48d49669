// Handlers of the HMI commands, one group per file (cmd_*.cpp).
#pragma once
#include "hmi/session.h"

// Session and login (cmd_session.cpp).
void cmd_term(HmiCommand&);
void cmd_flush(HmiCommand&);
void cmd_init(HmiCommand&);
void cmd_mvar(HmiCommand&);
void cmd_auth(HmiCommand&);
void cmd_logoff(HmiCommand&);
void cmd_users(HmiCommand&);
void cmd_sname(HmiCommand&);
void cmd_alive(HmiCommand&);

// Program browsing (cmd_browse.cpp).
void cmd_start(HmiCommand&);
void cmd_refresh(HmiCommand&);
void cmd_loop(HmiCommand&);
void cmd_apos(HmiCommand&);
void cmd_rapos(HmiCommand&);
void cmd_alist(HmiCommand&);
void cmd_posh(HmiCommand&);
void cmd_ipos(HmiCommand&);
void cmd_inst(HmiCommand&);
void cmd_mod(HmiCommand&);
void cmd_pos(HmiCommand&);
void cmd_up(HmiCommand&);
void cmd_down(HmiCommand&);
void cmd_pgup(HmiCommand&);
void cmd_pgdn(HmiCommand&);
void cmd_varp(HmiCommand&);
void cmd_lmt(HmiCommand&);
void cmd_llt(HmiCommand&);
void cmd_lpt(HmiCommand&);
void cmd_lnxt(HmiCommand&);

// Program editing (cmd_edit.cpp).
void cmd_new(HmiCommand&);
void cmd_insert(HmiCommand&);
void cmd_name(HmiCommand&);
void cmd_ren(HmiCommand&);
void cmd_blocks(HmiCommand&);
void cmd_blocke(HmiCommand&);
void cmd_blockc(HmiCommand&);
void cmd_del(HmiCommand&);
void cmd_copy(HmiCommand&);
void cmd_extract(HmiCommand&);
void cmd_move(HmiCommand&);
void cmd_varen(HmiCommand&);
void cmd_save(HmiCommand&);
void cmd_load(HmiCommand&);

// Variables and parameters (cmd_vars.cpp, cmd_params.cpp).
void cmd_rsys(HmiCommand&);
void cmd_ssys(HmiCommand&);
void cmd_lvar(HmiCommand&);
void cmd_livar(HmiCommand&);
void cmd_svar(HmiCommand&);
void cmd_rvar(HmiCommand&);
void cmd_mivar(HmiCommand&);
void cmd_lconfig(HmiCommand&);
void cmd_gquorfig(HmiCommand&);
void cmd_gconfig(HmiCommand&);
void cmd_sconfig(HmiCommand&);
void cmd_resize(HmiCommand&);
void cmd_num(HmiCommand&);
void cmd_gpos(HmiCommand&);

// Run control (cmd_run.cpp).
void cmd_rdate(HmiCommand&);
void cmd_sdate(HmiCommand&);
void cmd_run(HmiCommand&);
void cmd_stop(HmiCommand&);
void cmd_cont(HmiCommand&);
void cmd_step(HmiCommand&);
void cmd_sbreak(HmiCommand&);
void cmd_cbreak(HmiCommand&);
void cmd_status(HmiCommand&);

// History files (cmd_history.cpp).
void cmd_sper(HmiCommand&);
void cmd_hper(HmiCommand&);
void cmd_tper(HmiCommand&);
void cmd_dper(HmiCommand&);
void cmd_sevt(HmiCommand&);
void cmd_hevt(HmiCommand&);
void cmd_tevt(HmiCommand&);
void cmd_devt(HmiCommand&);
void cmd_pevt(HmiCommand&);

// Files of the working directory (cmd_files.cpp).
void cmd_fdel(HmiCommand&);
void cmd_fren(HmiCommand&);
void cmd_fcopy(HmiCommand&);
void cmd_fdir(HmiCommand&);
void cmd_gdisk(HmiCommand&);
void cmd_flen(HmiCommand&);

// Screens (cmd_screen.cpp) and HMI format lists (cmd_formats.cpp).
void cmd_lhmiw(HmiCommand&);
void cmd_shmiw(HmiCommand&);
void cmd_gfhmi(HmiCommand&);
void cmd_sfhmi(HmiCommand&);
void cmd_shmiwc(HmiCommand&);
void cmd_ehmiw(HmiCommand&);
void cmd_hinsert(HmiCommand&);
void cmd_hdel(HmiCommand&);
void cmd_dhmi(HmiCommand&);
void cmd_hpos(HmiCommand&);
void cmd_hlist(HmiCommand&);
void cmd_rhmi(HmiCommand&);
void cmd_minst(HmiCommand&);
void cmd_vhmiloc(HmiCommand&);
void cmd_chmi(HmiCommand&);
void cmd_ihmis(HmiCommand&);
void cmd_lhmis(HmiCommand&);
void cmd_shmis(HmiCommand&);
void cmd_dhmis(HmiCommand&);
