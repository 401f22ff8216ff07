// What a Quarn run keeps besides its link: the configuration file and the help viewers; main
// creates the single instance and the window works on it by reference.
#pragma once
#include "text/config_file.h"
#include "app/help_opener.h"

struct QuarnState {
  ConfigFile config;
  HelpViewers helpViewers;
};
