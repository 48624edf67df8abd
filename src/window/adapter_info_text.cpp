#include "window/adapter_info_text.h"

namespace quillon {

QString IdText(std::uint32_t value) {
    return QStringLiteral("0x%1 or %2")
        .arg(QString::number(value, 16).toUpper())
        .arg(static_cast<std::int32_t>(value));
}

QString SerialText(const SerialBuffer& buffer) {
    QString text;
    for (int k = 0; k < kSerialBufferBytes / 2; ++k) {
        const char16_t c = static_cast<char16_t>(buffer[2 * k] | (buffer[2 * k + 1] << 8));
        if (c == 0) break;
        text.append(QChar(c));
    }
    return text;
}

}  // namespace quillon
