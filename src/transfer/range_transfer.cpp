#include "transfer/range_transfer.h"

#include <algorithm>
#include <span>

#include "iic/iic.h"
#include "iow/report_size.h"

namespace quillon {

namespace {

bool Stopped(const std::atomic<bool>* stop) { return stop != nullptr && stop->load(); }

// The I2C pipe's report size; 8 when the backend does not say.
int I2cReportBytes(IowKitHandle handle) {
    const std::uint32_t bytes = iow::ReportBytes(handle, kIowPipeI2c);
    return bytes >= 8 && bytes <= 64 ? static_cast<int>(bytes) : 8;
}

// Reads bytes 0..count-1 into `memory` a chunk at a time, marking in `unread` each byte whose
// chunk did not come. After a chunk that did not come (or an address refused) the address is
// set again: where the memory's pointer stands is then not known.
void ReadPass(IowKitHandle handle, AdapterAnswers& adapter, int count, const char* pass,
              const TransferProgress& progress, const std::atomic<bool>* stop, EdidImage& memory,
              std::vector<bool>& unread) {
    const int reportBytes = I2cReportBytes(handle);
    const int chunk = ReportPayloadBytes(reportBytes);
    bool addressed = false;
    for (int offset = 0; offset < count;) {
        const int n = std::min(chunk, count - offset);
        bool read = false;
        if (adapter.Answering() && !Stopped(stop)) {
            if (!addressed) {
                const IicWriteResult set = IicSetAddress(handle, static_cast<std::uint8_t>(offset));
                adapter.Note(set.noAnswer);
                addressed = set.ok;
            }
            if (addressed) {
                const IicChunk got = IicReadChunk(handle, n, reportBytes);
                adapter.Note(got.noAnswer);
                read = !got.bytes.empty();
                if (read) std::copy(got.bytes.begin(), got.bytes.end(), memory.begin() + offset);
                addressed = read;
            }
        }
        for (int k = offset; k < offset + n; ++k) unread[k] = !read;
        offset += n;
        if (progress) progress(pass, offset, count);
    }
}

}  // namespace

TransferOutcome ReadRange(IowKitHandle handle, int count, const TransferProgress& progress,
                          const std::atomic<bool>* stop) {
    TransferOutcome outcome;
    AdapterAnswers adapter(handle);
    std::vector<bool> unread(kEdidBytes, false);
    ReadPass(handle, adapter, count, "reading", progress, stop, outcome.memory, unread);
    for (int k = 0; k < count; ++k)
        if (unread[k]) outcome.faults.push_back({k, std::nullopt, std::nullopt});
    outcome.interrupted = Stopped(stop);
    return outcome;
}

TransferOutcome ProgramRange(IowKitHandle handle, const EdidImage& image, int count, int pageBytes,
                             const TransferProgress& progress, const std::atomic<bool>* stop) {
    TransferOutcome outcome;
    AdapterAnswers adapter(handle);
    const int reportBytes = I2cReportBytes(handle);
    std::vector<bool> taken(kEdidBytes, false);
    for (int offset = 0; offset < count; offset += pageBytes) {
        if (Stopped(stop)) break;  // the page under way was finished
        const int n = std::min(pageBytes, count - offset);
        bool ok = false;
        if (adapter.Answering()) {
            const IicWriteResult written = IicWritePage(
                handle, static_cast<std::uint8_t>(offset),
                std::span(image).subspan(static_cast<std::size_t>(offset), n), reportBytes);
            adapter.Note(written.noAnswer);
            ok = written.ok;
        }
        std::fill_n(taken.begin() + offset, n, ok);
        if (progress) progress("writing", offset + n, count);
    }
    // The read-back goes to the end even when stopped: it tells what the memory now holds.
    std::vector<bool> unread(kEdidBytes, false);
    ReadPass(handle, adapter, count, "checking", progress, nullptr, outcome.memory, unread);
    for (int k = 0; k < count; ++k) {
        if (!taken[k] || unread[k])
            outcome.faults.push_back({k, image[k], std::nullopt});
        else if (outcome.memory[k] != image[k])
            outcome.faults.push_back({k, image[k], outcome.memory[k]});
    }
    outcome.interrupted = Stopped(stop);
    return outcome;
}

BusScan ScanAddresses(IowKitHandle handle) {
    BusScan scan;
    AdapterAnswers adapter(handle);
    for (int address = 0; address <= 255 && adapter.Answering(); ++address) {
        const IicProbeResult probe = IicProbeAddress(handle, static_cast<std::uint8_t>(address));
        adapter.Note(probe.noAnswer);
        if (probe.noAnswer) scan.adapterAnswered = false;
        if (probe) scan.acknowledged.push_back(static_cast<std::uint8_t>(address));
    }
    if (!adapter.Answering()) scan.adapterAnswered = false;
    return scan;
}

}  // namespace quillon
