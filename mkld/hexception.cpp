#include "mkld/hexception.h"

#include "mkld/bytes.h"

HException::HException(const QString& message) : message_(toStdBytes(message)) {}
