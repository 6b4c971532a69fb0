// One entry per command; each lives in its own Cmd*.cpp.
#ifndef QMX_TOOL_COMMANDS_H
#define QMX_TOOL_COMMANDS_H

#include "Cli.h"

namespace Quellmar::qmx {

Command lsCommand();
Command getCommand();
Command putCommand();
Command catCommand();
Command appendCommand();
Command checkCommand();
Command compactCommand();
Command versionCommand();
Command demoCommand();
Command sealCommand();

}  // namespace Quellmar::qmx

#endif
