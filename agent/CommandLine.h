// The command line: one operation per run.
#pragma once

void Arguments(int argc, char** argv);
void PrintHelp();
void PrintOptions();
