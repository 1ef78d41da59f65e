// The control flow of the instrument: start-up dispatch and main menu, the
// deployment controller, and the configuration and test menus.
#pragma once

#include "System.h"

extern int dbg_flag;

void deploy(deploy_state state);
void state_dump();
void configuration();
void test();
void viewFiles();
