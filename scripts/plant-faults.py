#!/usr/bin/env python3
"""Plants plausible faults in the product code, one at a time, and lists which test rows catch
each: a measure of the suite's power before and after a change to the tests.

Works on a git worktree of HEAD of its own (the checkout is never touched), builds it, then for
each fault: changes one file, rebuilds, runs the unit suite's programs offscreen (and, for a
fault in the window's code, the command table on Xvfb, bare and under openbox), records the rows
that failed and puts the file back. A fault whose text no longer matches the code is reported
as NOMATCH: update it.

Usage: scripts/plant-faults.py [FAULT ...]
  Without names: every fault not yet in build-faults/results.json (delete it for a fresh run).
  With names: those faults, run again.
Results: build-faults/results.json, each program's output for the last fault beside it, and a
summary of the faults no row caught and of the rows that alone catch one. About a minute a
fault on two cores.
"""
import collections
import json
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WORK = os.path.join(ROOT, "build-faults")
# Beside the checkout, so that the tests find ../shared as they do from it.
TREE = ROOT + "-faults"
BUILD = os.path.join(TREE, "build")
# The faults in these run the command table on the X server too; the others are only the
# window's through the same rows offscreen.
X_SOURCES = ("src/window/", "src/commands/", "src/transfer/", "src/iic/", "src/files/file_commands")
PROGRAMS = ["test_image", "test_image_files", "test_window", "test_iowkit_virtual",
            "test_iowkit_linux", "test_cli", "test_commands"]

# (name, file, text, replacement): each replaces the first occurrence of text.
M = [
("segment-stop", "src/iic/iow_i2c_bus.cpp", "WriteReports(message.AddressByte(), message.data, stop, reportBytes_);", "WriteReports(message.AddressByte(), message.data, stop || message.address == kSegmentPointerAddress, reportBytes_);"),
("segment-omitted", "src/iic/i2c_bus.cpp", "if (addressing == Addressing::Segment)\n        messages.push_back", "if (false)\n        messages.push_back"),
("segment-read-on", "src/transfer/memory_engine.cpp", "addressed && !run.pace.addressEachRead && addressing != Addressing::Segment", "addressed && !run.pace.addressEachRead"),
("block-select-ignored", "src/iic/i2c_bus.cpp", "addressing == Addressing::BlockSelect ? offset / kBytesPerAddress : 0", "0"),
("edid-length-ignored", "src/cli/commands.cpp", "EdidBlockCount(read.memory) * kBlockBytes)", "kEdidBytes)"),
("unit-crosses-256", "src/transfer/memory_engine.cpp", "std::min({chunk, count - offset, kBytesPerAddress - offset % kBytesPerAddress})", "std::min({chunk, count - offset})"),
("reply-count-partial", "src/iic/i2c_report.h", "count >= byteCount) return", "count >= 1) return"),
("read-errflag", "src/iic/i2c_report.h", "(reply[1] & kReplyErrorFlag) == 0 && count >= byteCount", "count >= byteCount"),
("arbitration-ignored", "src/iic/i2c_report.h", "if ((reply[1] & kReplyArbitrationLostFlag) != 0) return I2cStatus::ArbitrationLost;", ""),
("page-ignore-later", "src/iic/iow_i2c_bus.cpp", "done.status = ReplyStatus(buffer, got, kReportI2cWrite, bytes, reportBytes_);", "done.status = k > 0 ? I2cStatus::Done : ReplyStatus(buffer, got, kReportI2cWrite, bytes, reportBytes_);"),
("poll-20ms", "src/iic/i2c_bus.h", "std::chrono::milliseconds(50)", "std::chrono::milliseconds(20)"),
("scan-read-addresses", "src/transfer/memory_engine.cpp", "probes == ScanProbes::WriteAddresses ? 2 : 1", "probes == ScanProbes::WriteAddresses ? 1 : 1"),
("scan-no-read-byte", "src/transfer/memory_engine.cpp", "if (step == 2) scan.acknowledged.push_back(addressByte | 1);", ""),
("file-padded", "src/cli/commands.cpp", "if (auto failed = TakeFileLength(request, fileBytes)) return failed;", ""),
("file-length-ignored", "src/cli/commands.cpp", "if (!request.byteCountGiven) request.byteCount", "if (false) request.byteCount"),
("displayid-sum-unfixed", "src/image/edid_layout.cpp", "if (block > 0 && bytes[0] == kDisplayIdTag", "if (false && bytes[0] == kDisplayIdTag"),
("displayid-sum-unjudged", "src/image/source_rules.cpp", "if (std::accumulate(section.begin(), section.end(), 0) % 256 != 0)", "if (false)"),
("cta-offset-in-block", "src/image/source_rules.cpp", "(offset < kCtaDataBlocksStart || offset >= kBlockBytes)", "(offset < kCtaDataBlocksStart)"),
("count-unjudged", "src/image/source_rules.cpp", "if (EdidBlockCount(image) > blocks)", "if (false)"),
("conformity-lines-lost", "src/cli/conformity.cpp", "messages.last() += '\\n' + line;", ";"),
("pullups-flag-lost", "src/iic/iow_i2c_bus.cpp", "kEnablePullUpsOffFlag : 0", "0 : 0"),
("pullups-nocycle", "src/iic/iow_i2c_bus.cpp", "if (pullUps_ && !send(EnableReport(0))) return false;", ""),
("setaddr-stop", "src/iic/i2c_report.cpp", "(last && stop ? kWriteStopFlag : 0)", "(last ? kWriteStopFlag : 0)"),
("no-polling", "src/iic/i2c_bus.cpp", "if (last || failed == result.messages.end()", "if (true || failed == result.messages.end()"),
("probe-invert", "src/transfer/memory_engine.cpp", "if (!probe.Done()) continue;", "if (probe.Done()) continue;"),
("page-stop-each", "src/iic/i2c_report.cpp", "(last && stop ? kWriteStopFlag : 0)", "(stop ? kWriteStopFlag : 0)"),
("nowait-yield", "src/iic/iow_i2c_bus.cpp", "if (whileWaiting != nullptr && *whileWaiting && !(*whileWaiting)()) {", "if (whileWaiting != nullptr && *whileWaiting && !(*whileWaiting)() && false) {"),
("read-noredsum", "src/commands/device_commands.cpp", "if (checksum_.AddByte(n, value) || !good) grids_.MarkByteCells(n);", "checksum_.AddByte(n, value);\n            if (!good) grids_.MarkByteCells(n);"),
("write-nocompare", "src/transfer/memory_engine.cpp", "good = good && taken[offset + k] && meant[offset + k] == value;", "good = good && taken[offset + k];"),
("write-taken", "src/transfer/memory_engine.cpp", "const bool ok = send && result->Done();", "const bool ok = send;"),
("write-256", "src/commands/device_commands.cpp", "for (int n = 1; n <= window.ByteCount(); ++n) {", "for (int n = 1; n <= 256; ++n) {"),
("scan-nonone", "src/commands/device_commands.cpp", "if (window.ResultText().empty()) window.SetResultText", "if (false) window.SetResultText"),
("yield-ignore-close", "src/commands/device_commands.cpp", "if (pass != Pass::Checking && n > 1 && !window_.YieldToWindow()) return false;", "if (pass != Pass::Checking && n > 1) window_.YieldToWindow();"),
("end-order", "src/commands/device_commands.cpp", "    window.EnableButtons();\n    if (!outcome.abandoned) window.ResetHandle();", "    if (!outcome.abandoned) window.ResetHandle();\n    window.EnableButtons();"),
("scan-noanswer", "src/transfer/memory_engine.cpp", "if (probe.NoAnswer()) scan.adapterAnswered = false;", ""),
("rp-noreaddress", "src/transfer/memory_engine.cpp", "addressed && !run.pace.addressEachRead", "offset > 0 && !run.pace.addressEachRead"),
("pr-nodiffer", "src/transfer/memory_engine.cpp", "else if (memory[k] != meant[k])", "else if (false)"),
("pr-taken", "src/transfer/memory_engine.cpp", "if (!taken[k] || unread[k])", "if (unread[k])"),
("rp-unread", "src/transfer/memory_engine.cpp", "unread[offset + k] = !addressed;", "unread[offset + k] = false;"),
("pr-stop-early", "src/transfer/memory_engine.cpp", "!(pass != Pass::Checking && outcome.interrupted)", "!outcome.interrupted"),
("status-4over3", "src/cli/command_result.cpp", "std::ranges::any_of(*faults, noAnswer) ? kExitNoAnswer", "std::ranges::any_of(*faults, noAnswer) && std::ranges::all_of(*faults, noAnswer) ? kExitNoAnswer"),
("verdict-invert", "src/cli/command_result.cpp", "\"bad\" : \"good\"", "\"good\" : \"bad\""),
("char-range", "src/image/byte_cells.cpp", "value <= 90)", "value <= 96)"),
("parse-empty", "src/image/byte_cells.cpp", "return std::uint8_t{0};", "return std::nullopt;"),
("parse-lower", "src/image/byte_cells.cpp", "if (c >= 'a' && c <= 'f') return c - 'a' + 10;", ""),
("idtext-unsigned", "src/window/adapter_info_text.cpp", ".arg(static_cast<std::int32_t>(value));", ".arg(value);"),
("serial-nobreak", "src/iow/serial_number.h", "if (c == 0) break;", "if (c == 0) continue;"),
("save-filter", "src/files/file_commands.cpp", "settings.filterPatterns = \"*.HEX;*.bin;*.BIN\";", "settings.filterPatterns = \"*.bin;*.BIN\";"),
("open-norefresh", "src/files/file_commands.cpp", "window.RefreshGrids();  // all 256", "// all 256"),
("open-cancel-pattern", "src/files/file_commands.cpp", "window.FilePattern().clear();\n        return;", "return;"),
("confirm-default-yes", "src/window/form1.cpp", "box.setDefaultButton(QMessageBox::No);", "box.setDefaultButton(QMessageBox::Yes);"),
("disable-i2c-always", "src/window/form1.cpp", "    if (IowHandle != 0) {\n        ui->IICWriteButton->setEnabled(false);", "    if (true) {\n        ui->IICWriteButton->setEnabled(false);"),
("reentry", "src/window/form1.cpp", "if (commandRunning_ || closing_) {", "if (closing_) {"),
("clear-nofill", "src/window/form1.cpp", "EdidData.fill(0);", ""),
("open-notimeout", "src/window/form1.cpp", "IowKitSetTimeout(handle, kReadTimeoutMs);", ""),
("shutdown-noswitchoff", "src/window/form1.cpp", "IicEnable(IowHandle, 0);", ""),
("focus-norestore", "src/window/form1.cpp", "focusBeforeCommand_->setFocus(Qt::OtherFocusReason);", ""),
("startup-noenable", "src/window/form1.cpp", "    IicEnable(IowHandle, 1);\n    VersionText", "    VersionText"),
("grid-nomark-sum", "src/image/grid_views.cpp", "if (checksum.AddByte(n, value)) {", "if (false && checksum.AddByte(n, value)) {"),
("xml-block1-optional", "src/files/image_files.cpp", "        if (!second)\n            return FileError{kErrorMissingBlock1, \"The XML element DATA has no BLOCK1 element\"};\n", ""),
("xml-cdata", "src/files/image_files.cpp", " || child.type() == pugi::node_cdata", ""),
("raw-toolarge", "src/files/image_files.cpp", "    if (size > kMaxImageFileBytes) return TooLarge();\n    if (!ReadUpTo", "    if (!ReadUpTo"),
("write-nofsync", "src/files/image_files.cpp", "if (calls.fsync(fd) != 0) return ErrnoError(errno);", ""),
("write-keepsetid", "src/files/image_files.cpp", "mode = old.st_mode & 0777;", "mode = old.st_mode & 07777;"),
("write-fail-nounlink", "src/files/image_files.cpp", "        ::unlink(temporary.c_str());\n", ""),
("format-4ext", "src/files/image_files.cpp", "if (extension.size() != 3) return ImageFormat::Raw;", ""),
("counter-advance-late", "src/files/unit_records.cpp", "const std::string next = std::to_string(*number + 1) + \"\\n\";", "const std::string next = std::to_string(*number) + \"\\n\";"),
("counter-nolock", "src/files/unit_records.cpp", "while (::flock(fd.get(), LOCK_EX) != 0)", "while (false)"),
("stamp-week54", "src/cli/unit_stamps.cpp", "week > 53", "week > 54"),
("verify-nodiff", "src/cli/commands.cpp", "if (!got || read.memory[k] != expected[k])", "if (!got)"),
("bytes-any", "src/cli/options.cpp", "count < kBlockBytes || count % kBlockBytes != 0 ||", "count < 1 ||"),
("badsum-allowed", "src/cli/commands.cpp", "        if (!bad.empty())\n", "        if (false)\n"),
("notty-writes", "src/cli/commands.cpp", "if (!request.yes && !inIsTerminal)", "if (false)"),
("worst-order", "src/cli/command_line.cpp", "kExitNoAdapter, kExitNoAnswer, kExitBytesDiffer,", "kExitNoAdapter, kExitBytesDiffer, kExitNoAnswer,"),
("mode-interlace", "src/image/edid_identity.cpp", "(d[17] & 0x80) != 0", "(d[17] & 0x40) != 0"),
("mode-width-high", "src/image/edid_identity.cpp", "mode.width = d[2] | (d[4] & 0xF0) << 4;", "mode.width = d[2];"),
("nodes-sort-text", "src/iow/linux/iow_linux_protocol.cpp", "return na != nb ? na < nb : a < b;", "return a < b;"),
("row-shade-swap", "src/image/byte_cells.h", "row % 2 == 1 ? kOddRowShade : kEvenRowShade", "row % 2 == 0 ? kOddRowShade : kEvenRowShade"),
("paint-mark-late", "src/commands/device_commands.cpp", "grids_.MarkByteCells(n);\n        return window_.YieldToWindow();", "const bool open = window_.YieldToWindow();\n        grids_.MarkByteCells(n);\n        return open;"),
("write-noshade-yield", "src/commands/device_commands.cpp", "grids_.ShadeByteCells(n);\n            return window_.YieldToWindow();", "grids_.ShadeByteCells(n);\n            return true;"),
("read-end-noyield", "src/commands/device_commands.cpp", "return pass == Pass::Checking || count_ == 0 || window_.YieldToWindow();", "return true;"),
("stamp-year-base", "src/image/edid_stamp.cpp", "kFirstYear = 1990", "kFirstYear = 1900"),
("stamp-no-lf", "src/image/edid_stamp.cpp", "? 0x0A", "? 0x20"),
("stamp-serial-order", "src/image/edid_stamp.cpp", ">> (8 * k));", ">> (8 * (3 - k)));"),
("stamp-nofix", "src/image/edid_stamp.cpp", "    FixChecksums(image, byteCount);\n    return descriptor", "    return descriptor"),
("stamp-text-long", "src/image/edid_stamp.cpp", "static_cast<int>(text.size()) > kDescriptorTextBytes", "static_cast<int>(text.size()) > kDescriptorTextBytes + 1"),
("record-sha-read", "src/cli/unit_stamps.cpp", "record[\"sha256_meant\"] = sha256(outcome.meant);", "record[\"sha256_meant\"] = sha256(outcome.readBack);"),
("ask-any-answer", "src/cli/command_line.cpp", "return word == \"y\" || word == \"yes\";", "return word != \"n\";"),
("ignore-stamp-always", "src/cli/commands.cpp", "request.ignoreStamp ? StampedOffsets(", "true ? StampedOffsets("),
("header-unchecked", "src/cli/commands.cpp", "if (!HasEdidHeader(fileImage))", "if (false)"),
("no-centre", "src/window/form1.cpp", "Qt::AlignCenter, size(),", "Qt::AlignLeft, size(),"),
("focus-first-disabled", "src/window/form1.cpp", "if (w->isVisibleTo(this) && w->isEnabled() && (w->focusPolicy()", "if (w->isVisibleTo(this) && (w->focusPolicy()"),
("copy-char-grid", "src/window/form1.cpp", "ui->BinInfo->SetCopiesSelection(true);", "ui->AscInfo->SetCopiesSelection(true);"),
("enable-128-checks-256", "src/window/form1.cpp", "        ui->ByteOption_1->setEnabled(true);\n        ui->ByteOption_0->setChecked(true);", "        ui->ByteOption_1->setEnabled(true);\n        ui->ByteOption_1->setChecked(true);"),
("startup-noclose", "src/window/form1.cpp", "    IowKitCloseDevice(IowHandle);\n    IowHandle = 0;\n    InitGrids();", "    IowHandle = 0;\n    InitGrids();"),
("header-selectable", "src/window/edid_grid.cpp", "    item->setFlags(Qt::ItemIsEnabled);\n    item->setBackground", "    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);\n    item->setBackground"),
("copy-row-sep", "src/window/edid_grid.cpp", "rows.join(QLatin1Char('\\r'))", "rows.join(QLatin1Char('\\n'))"),
("numdevs-plus", "src/iow/iowkit.cpp", "return TheKit().handles.NewestGroupSize(); }", "return TheKit().handles.NewestGroupSize() + 1; }"),
("rowheight-17", "src/window/edid_grid.cpp", "height() / kGridLines);", "height() / (kGridLines - 1));"),
("cellof-column", "src/image/byte_cells.h", "(byteNumber - 1) % 16 + 1};", "byteNumber % 16 + 1};"),
("show-ignore-close", "src/image/grid_views.cpp", "            grids.MarkByteCells(n);\n        }\n        if (!yield()) {\n            return false;\n        }", "            grids.MarkByteCells(n);\n        }\n        yield();"),
("load-notregular", "src/files/regular_file.h", "    else if (!S_ISREG(info.st_mode))\n        error = NotRegularFile();\n", ""),
("write-newmode", "src/files/image_files.cpp", "        mode = old.st_mode & 0777;\n", ""),
("several-declined-writes", "src/cli/command_line.cpp", "                fixture = Fail(kExitUsage, \"Not confirmed; nothing written.\");\n", ""),
("list-access", "src/cli/command_result.cpp", "access == Free     ? \"free\"", "access == Free     ? \"held\""),
("sum-norestart", "src/image/edid_image.h", "        blockSum_ = 0;\n        return bad;", "        return bad;"),
("show-nomark-first", "src/image/grid_views.cpp", "    for (int n = 1; n <= kEdidBytes; ++n) {\n        grids.MarkByteCells(n);\n", "    for (int n = 1; n <= kEdidBytes; ++n) {\n"),
("show-one-yield", "src/image/grid_views.cpp", "        grids.MarkByteCells(n);\n        if (!yield()) {\n            return false;\n        }\n        const", "        grids.MarkByteCells(n);\n        const"),
("xml-first-data", "src/files/image_files.cpp", "            blocks.push_back(AllText(more));\n        }\n    }", "            blocks.push_back(AllText(more));\n        }\n        break;\n    }"),
("xml-block0-optional", "src/files/image_files.cpp", "if (!first)\n            return", "if (false)\n            return"),
("xml-nonhex-skipped", "src/files/image_files.cpp", "if (digit < 0) break;", "if (digit < 0) continue;"),
("xml-notrim", "src/files/image_files.cpp", "while (!text.empty() && IsSpaceAround(text.front())) text.remove_prefix(1);", ""),
("xml-memory-nolimit", "src/files/image_files.cpp", "if (static_cast<long long>(text.size()) > kMaxImageFileBytes) return TooLarge();", ""),
("serial-33bits", "src/cli/unit_stamps.cpp", "if (!ok || number > UINT32_MAX)", "if (!ok)"),
("files-count-loose", "src/cli/options.cpp", "entry.file == FileUse::Written) && files != 1)", "entry.file == FileUse::Written) && files > 1)"),
("rp-readdress-offset", "src/transfer/memory_engine.cpp", ": MemoryRead(addressing, offset, n);", ": MemoryRead(addressing, offset == 0 || run.pace.addressEachRead ? offset : offset + n, n);"),
("declined-unrecorded", "src/cli/command_line.cpp", "        Record(request, log, outcome);\n", "        if (outcome.status != kExitUsage) Record(request, log, outcome);\n"),
("serial-prefix", "src/iow/virtual/iow_virtual_glue.cpp", "slot.adapter.SerialNumber() == *serial", "slot.adapter.SerialNumber().starts_with(*serial)"),
("log-noappend", "src/files/unit_records.cpp", "O_WRONLY | O_APPEND | O_CREAT", "O_WRONLY | O_CREAT"),
("stamp-week0", "src/cli/unit_stamps.cpp", "week < 1 ||", "week < 0 ||"),
("show-file-adapters", "src/cli/options.cpp", "(adapterOption && fileNotAdapter)", "false"),
("list-all-refused", "src/cli/commands.cpp", "AdapterUse::None, false, {\"all\"}, nullptr}", "AdapterUse::None, false, {}, nullptr}"),
("option-any", "src/cli/options.cpp", "if (first != \"json\" &&\n", "if (false &&\n"),
("serial-twice", "src/cli/adapters.cpp", "    serials.removeDuplicates();\n", ""),
("hold-every", "src/cli/adapters.cpp", "if (handle == 0 && !adapter.serial.empty())", "if (!adapter.serial.empty())"),
("interrupt-read-3", "src/cli/commands.cpp", "        outcome.status = kExitInterrupted;\n        outcome.message = QString(\"Interrupted; %1", "        outcome.message = QString(\"Interrupted; %1"),
("interrupt-verify-3", "src/cli/commands.cpp", "read.interrupted              ? (outcome.status = kExitInterrupted, \"Interrupted.\")", "read.interrupted              ? QString(\"Interrupted.\")"),
("stamp-fix-block0", "src/image/edid_stamp.cpp", "    FixChecksums(image, byteCount);\n    return descriptor", "    FixChecksums(image, 128);\n    return descriptor"),
("worst-2over6", "src/cli/command_line.cpp", "kExitInterrupted,\n                                   kExitNoAdapter,", "kExitNoAdapter,\n                                   kExitInterrupted,"),
]


def run(*args, **kw):
    return subprocess.run(args, text=True, capture_output=True, **kw)


def failing_rows(with_x):
    """The rows that fail, "program:Class::function(row)"; a program that ends otherwise
    (a time-out, a crash) as "program:EXIT<code>". The X run only when `with_x`."""
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    tests = os.path.join(BUILD, "tests")
    procs = {p: subprocess.Popen(["timeout", "-k", "10", "150", os.path.join(tests, p)], cwd=tests, env=env,
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
             for p in PROGRAMS}
    if with_x:
        procs["x"] = subprocess.Popen(
            ["timeout", "-k", "10", "300", os.path.join(TREE, "tests/run-with-x-server.sh"),
             os.path.join(tests, "test_commands")],
            cwd=tests, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    rows = set()
    for name, proc in procs.items():
        out, _ = proc.communicate()
        with open(os.path.join(WORK, f"last-{name}.log"), "w") as log:  # for a closer look
            log.write(out)
        found = {f"{name}:{m.group(1)}" for m in
                 (re.match(r"FAIL!\s*:\s*(.*?\)) ", line) for line in out.splitlines()) if m}
        if proc.returncode != 0 and not found:
            found = {f"{name}:EXIT{proc.returncode}"}
        rows |= found
    return sorted(rows)


def main():
    chosen = sys.argv[1:]
    os.makedirs(WORK, exist_ok=True)
    if not os.path.isdir(TREE):
        run("git", "-C", ROOT, "worktree", "add", "--detach", "-f", TREE, "HEAD", check=True)
    run("git", "-C", TREE, "checkout", "-f", "--detach", run("git", "-C", ROOT, "rev-parse", "HEAD").stdout.strip())
    run("cmake", "-S", TREE, "-B", BUILD, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
        "-DQUILLON_BUILD_TESTS=ON", check=True)
    if run("cmake", "--build", BUILD, "-j2").returncode != 0:
        sys.exit("the unchanged tree does not build")
    # A run goes on where the last one stopped: a fault already in the results is run again
    # only when named.
    saved = os.path.join(WORK, "results.json")
    results = json.load(open(saved)) if os.path.exists(saved) else {}
    for name, path, text, replacement in M:
        if (chosen and name not in chosen) or (not chosen and name in results):
            continue
        file = os.path.join(TREE, path)
        original = open(file).read()
        if text not in original:
            results[name] = ["NOMATCH"]
        else:
            open(file, "w").write(original.replace(text, replacement, 1))
            built = run("cmake", "--build", BUILD, "-j2").returncode == 0
            results[name] = failing_rows(path.startswith(X_SOURCES)) if built else ["BUILDFAIL"]
            open(file, "w").write(original)
        print(name, len(results[name]), results[name][:3], flush=True)
        json.dump(results, open(os.path.join(WORK, "results.json"), "w"), indent=1)
    run("cmake", "--build", BUILD, "-j2")
    print("caught by no row:", [n for n, rows in results.items() if not rows])
    alone = collections.defaultdict(list)
    for name, rows in results.items():
        if len(rows) == 1:
            alone[rows[0]].append(name)
    for row, names in sorted(alone.items()):
        print("alone:", row, names)


if __name__ == "__main__":
    main()
