#include "iic/i2c_report.h"

#include <algorithm>

namespace quillon {

std::vector<std::vector<std::uint8_t>> WriteReports(std::uint8_t addressByte,
                                                    std::span<const std::uint8_t> data, bool stop,
                                                    int reportBytes) {
    std::vector<std::uint8_t> bytes{addressByte};
    bytes.insert(bytes.end(), data.begin(), data.end());
    const auto payload = static_cast<std::size_t>(ReportPayloadBytes(reportBytes));
    std::vector<std::vector<std::uint8_t>> reports;
    for (std::size_t done = 0; done < bytes.size();) {
        const std::size_t n = std::min(payload, bytes.size() - done);
        const bool last = done + n == bytes.size();
        std::vector<std::uint8_t> report(static_cast<std::size_t>(reportBytes), 0);
        report[0] = kReportI2cWrite;
        report[1] = static_cast<std::uint8_t>(n | (done == 0 ? kWriteStartFlag : 0) |
                                              (last && stop ? kWriteStopFlag : 0));
        std::copy_n(bytes.begin() + static_cast<long>(done), n, report.begin() + 2);
        reports.push_back(std::move(report));
        done += n;
    }
    return reports;
}

std::vector<std::uint8_t> ReadRequestReport(std::uint8_t addressByte, int count, int reportBytes) {
    std::vector<std::uint8_t> report(static_cast<std::size_t>(reportBytes), 0);
    report[0] = kReportI2cRead;
    report[1] = static_cast<std::uint8_t>(count);
    report[2] = addressByte;
    return report;
}

}  // namespace quillon
