#include "window/adapter_info_text.h"

#include "iow/serial_number.h"

namespace quillon {

QString IdText(std::uint32_t value) {
    return QStringLiteral("0x%1 or %2")
        .arg(QString::number(value, 16).toUpper())
        .arg(static_cast<std::int32_t>(value));
}

QString SerialText(const SerialBuffer& buffer) {
    return QString::fromStdU16String(iow::SerialFromUtf16(buffer));
}

}  // namespace quillon
