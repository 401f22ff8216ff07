// "quarn-cli survey": the survey job on the run's link, its rows on standard output.
#pragma once
#include <string>

#include "cli/cli_commands.h"

class JobLink;

// Runs the survey and prints its rows. Returns the exit code; why in error when it failed.
int runSurvey(JobLink& link, const CliOptions& options, std::string& error);
