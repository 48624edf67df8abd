#include "transfer/memory_engine.h"

#include <algorithm>

namespace quillon {

namespace {

// Whether the adapter still answers during one transfer. Each unanswered exchange costs a read
// time-out and a quiet wait (or the driver's one-second write time-out), so after a few in a
// row the engine stops talking to the adapter: the bytes not done are faults, and an adapter
// that died ends the command in seconds rather than minutes.
class AdapterAnswers {
  public:
    static constexpr int kUnansweredExchangesBeforeGivingUp = 5;

    explicit AdapterAnswers(I2cBus& bus)
        : unanswered_(bus.Begin() ? 0 : kUnansweredExchangesBeforeGivingUp) {}
    bool Answering() const { return unanswered_ < kUnansweredExchangesBeforeGivingUp; }
    // An exchange that failed on the way (no answer, arbitration lost) counts; any other
    // answer, a refusal included, shows the adapter and the bus working.
    void Note(const I2cTransferResult& result) {
        unanswered_ = result.NoAnswer() || result.ArbitrationLost() ? unanswered_ + 1 : 0;
    }

  private:
    int unanswered_;
};

using Values = std::vector<std::optional<std::uint8_t>>;

// One transfer under way.
struct Run {
    Run(I2cBus& bus, const Pace& pace, TransferObserver& observer, int count)
        : bus(bus), pace(pace), observer(observer), answers(bus) {
        outcome.memory.resize(static_cast<std::size_t>(count));
    }
    I2cBus& bus;
    const Pace& pace;
    TransferObserver& observer;
    AdapterAnswers answers;
    MemoryOutcome outcome;
    // Acknowledge polling waits out a write cycle. Once it ran out with the address refused and
    // no write taken since, the memory is not busy but absent or silent: later units do not
    // poll, so that a read with no memory costs an exchange a byte, not the poll limit.
    bool pollingPays = true;

    // Whether the next unit of a read or a write goes on the wire.
    bool MaySend(Pass pass) {
        if (pass != Pass::Checking && observer.StopRequested()) outcome.interrupted = true;
        return answers.Answering() && !(pass != Pass::Checking && outcome.interrupted);
    }

    // One unit: when `send`, its transaction, with UnitStarting while the first request is on
    // the wire; else UnitStarting in its place and no result. Nothing when it was abandoned.
    std::optional<I2cTransferResult> Unit(Pass pass, int offset, int count, bool send,
                                          const std::vector<I2cMessage>& messages) {
        const WhileWaiting starting = [&] { return observer.UnitStarting(pass, offset, count); };
        if (!send) return starting() ? std::optional(I2cTransferResult{}) : std::nullopt;
        I2cTransferResult result = TransferPolling(bus, messages, starting, pollingPays);
        if (result.Abandoned()) return std::nullopt;
        answers.Note(result);
        const auto failed = std::ranges::find_if(
            result.messages, [](const I2cMessageResult& m) { return m.status != I2cStatus::Done; });
        if (failed != result.messages.end() && failed->status == I2cStatus::AddressRefused)
            pollingPays = false;
        if (pass == Pass::Writing && result.Done()) pollingPays = true;
        return result;
    }

    MemoryOutcome Abandoned() {
        outcome.abandoned = true;
        return std::move(outcome);
    }
};

// Reads bytes 0..count-1 into the outcome's memory, a unit at a time, marking in `unread` each
// byte whose unit did not come. Checking, `meant` and `taken` are what the write pass meant and
// what the memory took. After a unit that did not come the address is set again: where the
// memory's pointer stands is then not known. False when abandoned.
bool ReadPass(Run& run, Pass pass, int from, int count,
              std::span<const std::optional<std::uint8_t>> meant, const std::vector<bool>& taken,
              std::vector<bool>& unread) {
    const int most = run.bus.MaxReadBytes();
    const int chunk = run.pace.readBytes > 0 ? std::min(run.pace.readBytes, most) : most;
    const Addressing addressing = run.pace.addressing;
    bool addressed = false;
    for (int offset = from; offset < count;) {
        const int n =
            std::min({chunk, count - offset, kBytesPerAddress - offset % kBytesPerAddress});
        // A new address pair or segment: where its pointer stands is not known.
        if (offset % kBytesPerAddress == 0) addressed = false;
        if (pass == Pass::Checking && run.pace.checkOnlyTaken &&
            std::none_of(taken.begin() + offset, taken.begin() + offset + n,
                         [](bool t) { return t; })) {
            addressed = false;
            offset += n;
            continue;
        }
        const bool send = run.MaySend(pass);
        // Each transaction of a segment memory names its segment: the pointer is 0 after a stop.
        const bool goOn = addressed && !run.pace.addressEachRead &&
                          addressing != Addressing::Segment && run.bus.ReadsOnFromPointer();
        const auto messages =
            goOn ? std::vector{I2cMessage::Read(MemoryAddressOf(addressing, offset), n)}
                 : MemoryRead(addressing, offset, n);
        const auto result = run.Unit(pass, offset, n, send, messages);
        if (!result) return false;
        addressed = send && result->Done();
        Values values(static_cast<std::size_t>(n));
        bool good = addressed;
        for (int k = 0; k < n; ++k) {
            unread[offset + k] = !addressed;
            if (!addressed) continue;
            const std::uint8_t value = result->ReadBytes()[k];
            values[k] = value;
            run.outcome.memory[offset + k] = value;
            if (pass == Pass::Checking)
                good = good && taken[offset + k] && meant[offset + k] == value;
        }
        if (!run.observer.UnitDone(pass, offset, values, good)) return false;
        offset += n;
    }
    return run.observer.PassDone(pass);
}

}  // namespace

MemoryOutcome ReadMemory(I2cBus& bus, int count, const Pace& pace, TransferObserver& observer,
                         int from) {
    Run run(bus, pace, observer, count);
    std::vector<bool> unread(count, false);
    if (!ReadPass(run, Pass::Reading, from, count, {}, {}, unread)) return run.Abandoned();
    for (int k = from; k < count; ++k)
        if (unread[k]) run.outcome.faults.push_back({k, std::nullopt, std::nullopt});
    run.outcome.interrupted = run.outcome.interrupted || observer.StopRequested();
    return std::move(run.outcome);
}

MemoryOutcome ProgramMemory(I2cBus& bus, std::span<const std::optional<std::uint8_t>> meant,
                            const Pace& pace, TransferObserver& observer) {
    const int count = static_cast<int>(meant.size());
    Run run(bus, pace, observer, count);
    std::vector<bool> taken(count, false);
    // A page never longer than the bus writes (an SMBus without block writes: a byte).
    const int pageBytes = std::min(pace.pageBytes, bus.MaxWriteBytes());
    for (int offset = 0; offset < count; offset += pageBytes) {
        const int n = std::min(pageBytes, count - offset);
        const auto page = meant.subspan(static_cast<std::size_t>(offset), n);
        const bool whole = std::ranges::all_of(page, [](const auto& v) { return v.has_value(); });
        std::vector<std::uint8_t> data;
        for (const auto& value : page) data.push_back(value.value_or(0));
        const bool send = run.MaySend(Pass::Writing) && whole;
        const auto result =
            run.Unit(Pass::Writing, offset, n, send, MemoryWrite(pace.addressing, offset, data));
        if (!result) return run.Abandoned();
        const bool ok = send && result->Done();
        std::fill_n(taken.begin() + offset, n, ok);
        if (!observer.UnitDone(Pass::Writing, offset, page, ok)) return run.Abandoned();
    }
    if (!observer.PassDone(Pass::Writing)) return run.Abandoned();
    std::vector<bool> unread(count, false);
    if (!ReadPass(run, Pass::Checking, 0, count, meant, taken, unread)) return run.Abandoned();
    const std::vector<std::uint8_t>& memory = run.outcome.memory;
    for (int k = 0; k < count; ++k) {
        if (!taken[k] || unread[k])
            run.outcome.faults.push_back({k, meant[k], std::nullopt});
        else if (memory[k] != meant[k])
            run.outcome.faults.push_back({k, meant[k], memory[k]});
    }
    run.outcome.interrupted = run.outcome.interrupted || observer.StopRequested();
    return std::move(run.outcome);
}

BusScan ScanAddresses(I2cBus& bus, ScanProbes probes,
                      const std::function<bool(std::uint8_t)>& found) {
    BusScan scan;
    AdapterAnswers answers(bus);
    const int step = probes == ScanProbes::EveryAddressByte ? 1 : 2;
    const bool asI2cdetect = probes == ScanProbes::AsI2cdetect;
    for (int address = asI2cdetect ? 0x08 << 1 : 0;
         address <= (asI2cdetect ? 0x77 << 1 : 255) && answers.Answering(); address += step) {
        const auto addressByte = static_cast<std::uint8_t>(address);
        const int seven = address >> 1;
        const bool readProbe =
            asI2cdetect && ((seven >= 0x30 && seven <= 0x37) || (seven >= 0x50 && seven <= 0x5F));
        const I2cTransferResult probe = bus.Transfer(AddressProbe(addressByte | (readProbe ? 1 : 0)));
        answers.Note(probe);
        if (probe.NoAnswer()) scan.adapterAnswered = false;
        if (!probe.Done()) continue;
        scan.acknowledged.push_back(addressByte);
        if (step == 2) scan.acknowledged.push_back(addressByte | 1);
        if (found && !found(addressByte)) {
            scan.abandoned = true;
            return scan;
        }
    }
    if (!answers.Answering()) scan.adapterAnswered = false;
    return scan;
}

bool ProgressObserver::UnitDone(Pass pass, int offset,
                                std::span<const std::optional<std::uint8_t>> values, bool) {
    static constexpr const char* kPassNames[] = {"reading", "writing", "checking"};
    if (progress_)
        progress_(kPassNames[static_cast<int>(pass)], offset + static_cast<int>(values.size()),
                  total_);
    return true;
}

std::vector<std::optional<std::uint8_t>> AllMeant(std::span<const std::uint8_t> image, int count) {
    return {image.begin(), image.begin() + count};
}

}  // namespace quillon
