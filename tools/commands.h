// Subcommands of the kestrova tool; each returns the process exit status.
#pragma once

namespace kestrova::tools {

int Eval(int argc, char** argv);
int Bench(int argc, char** argv);
int Think(int argc, char** argv);
int Match(int argc, char** argv);
int Play(int argc, char** argv);
int Serve(int argc, char** argv);
int Tactics(int argc, char** argv);
int Analyse(int argc, char** argv);
int Features(int argc, char** argv);

}  // namespace kestrova::tools
