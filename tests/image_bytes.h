#pragma once

// An image's bytes as Qt's, a file's whole content written and read, and the ends of the bad
// blocks.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <numeric>
#include <span>

#include "image/edid_image.h"

namespace quillon::testing {

inline QByteArray Bytes(std::span<const std::uint8_t> image, int count = kEdidBytes) {
    return QByteArray(reinterpret_cast<const char*>(image.data()), count);
}
// Writes `bytes` as the whole of the file at `path`; false when it could not.
inline bool Put(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
inline QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return !path.isEmpty() && file.open(QIODevice::ReadOnly) ? file.readAll() : "<none>";
}
// The offsets of the last bytes of the blocks, among the first `count`, whose bytes do not add
// up to 0 mod 256.
inline QList<int> BadBlockEnds(std::span<const std::uint8_t> image, int count = kEdidBytes) {
    QList<int> ends;
    for (int end = 128; end <= count; end += 128)
        if (std::accumulate(&image[end - 128], &image[end - 1] + 1, 0) % 256 != 0) ends << end - 1;
    return ends;
}

}  // namespace quillon::testing
