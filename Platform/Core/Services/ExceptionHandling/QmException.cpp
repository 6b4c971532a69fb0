#include "QmException.h"

#include "Logging.h"

namespace Quellmar {

void QmException::log() const {
    static const Logging logger("QmException");
    logger.logERROR(m_message, __FILE__, __func__, __LINE__);
}

}  // namespace Quellmar
