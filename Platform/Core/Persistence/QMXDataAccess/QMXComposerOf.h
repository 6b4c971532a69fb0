#ifndef QUELLMAR_QMXCOMPOSEROF_H
#define QUELLMAR_QMXCOMPOSEROF_H

#include "QMXClassComposer.h"

namespace Quellmar {

// The DAOs take any ClassComposer but can store only this library's: another one has no
// datatype of the file library. Throws QminvalidArgument "Invalid class definition." for it.
QMXClassComposer& composerOf(ClassComposer& type);

}  // namespace Quellmar

#endif
