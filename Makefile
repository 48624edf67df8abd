# Entry points for people and CI. Every target installs what it needs first.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
CI_FUZZ_SECONDS ?= 15
TEST_ENV = QT_QPA_PLATFORM=offscreen

.PHONY: setup setup-test configure build build-program run run-real test unit e2e sanitize tsan fuzz fuzz-smoke bench package package-test clean sanitize-build tsan-build

# What building and running need; what testing needs besides (X server, QEMU, clang).
setup:
	scripts/setup-deps.sh run

setup-test:
	scripts/setup-deps.sh test

# The programs alone, without the tests and what they need.
build-program: setup
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DQUILLON_BUILD_TESTS=OFF
	cmake --build $(BUILD_DIR) -j $(JOBS)

configure: setup-test
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DQUILLON_BUILD_TESTS=ON

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The program on the virtual adapter (no hardware needed).
run: build-program
	$(BUILD_DIR)/src/app/quillon-virtual

# The program on a real IO-Warrior through the kernel's iowarrior driver.
run-real: build-program
	$(BUILD_DIR)/src/app/quillon

# Everything CI proves: the test suite, the install and the package, the real kernel driver in
# a test VM, the same suite under ASan and UBSan, the command line's threads under TSan, and a
# short run of every fuzzer. The VM emulates its one CPU on one core; the sanitizers and the
# fuzzers run meanwhile at a lower priority, so that they take the other core and then, once the
# VM is done, both. Their output is kept until the VM's is printed.
test: unit package-test
	nice -n 10 $(MAKE) --no-print-directory sanitize tsan fuzz-smoke \
	    > $(BUILD_DIR)/checks.log 2>&1 & checks=$$!; \
	$(MAKE) --no-print-directory e2e; vm=$$?; \
	wait $$checks; status=$$?; cat $(BUILD_DIR)/checks.log; \
	[ $$status -eq 0 ] && [ $$vm -eq 0 ]

unit: build
	cd $(BUILD_DIR) && $(TEST_ENV) ctest --output-on-failure -j $(JOBS)

# The Linux backend against the kernel's own iowarrior driver, in a QEMU VM with an
# IO-Warrior 24, an IO-Warrior 56 and three adapters at once, emulated through dummy_hcd and
# FunctionFS.
e2e: build
	scripts/run-vm-tests.sh $(BUILD_DIR)

# The suite under ASan and UBSan, the window offscreen: what a person sees on a real X server is
# the unit stage's to prove, and the VM's programs are not built.
sanitize-build: setup-test
	cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DQUILLON_SANITIZE=ON -DQUILLON_VM_TESTS=OFF
	cmake --build build-sanitize -j $(JOBS)

sanitize: sanitize-build
	cd build-sanitize && $(TEST_ENV) \
	    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	    LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    ctest --output-on-failure -j $(JOBS) -E '^test_commands_x$$'

# The command line with several adapters at once, one thread each, under ThreadSanitizer. Qt is
# not built for it: tests/tsan.supp names the waits inside QtTest that it cannot see. The test
# starts programs (QProcess forks and execs at once), which TSan would refuse by default.
tsan-build: setup-test
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DQUILLON_TSAN=ON -DQUILLON_VM_TESTS=OFF
	cmake --build build-tsan -j $(JOBS) --target test_cli

tsan: tsan-build
	cd build-tsan && $(TEST_ENV) \
	    TSAN_OPTIONS=halt_on_error=1:die_after_fork=0:suppressions=$(CURDIR)/tests/tsan.supp \
	    ctest --output-on-failure -R '^test_cli$$'

# The Debian package, in the build folder.
package: build
	cd $(BUILD_DIR) && cpack -G DEB

package-test: build
	scripts/check-package.sh $(BUILD_DIR)

fuzz: setup-test
	JOBS=$(JOBS) scripts/run-fuzzers.sh $(FUZZ_SECONDS)

fuzz-smoke: setup-test
	JOBS=$(JOBS) scripts/run-fuzzers.sh $(CI_FUZZ_SECONDS)

# A Release build timed on the virtual adapter, offscreen and under Xvfb.
bench: setup-test
	scripts/run-bench.sh

clean:
	rm -rf $(BUILD_DIR) build-sanitize build-tsan build-fuzz build-release
