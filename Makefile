# Entry points for people and CI. Every target installs what it needs first.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

.PHONY: setup configure build run run-real test clean

setup:
	scripts/setup-deps.sh

configure: setup
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The program on the virtual adapter (no hardware needed).
run: build
	$(BUILD_DIR)/src/app/quillon-virtual

# The program on a real IO-Warrior through the kernel's iowarrior driver.
run-real: build
	$(BUILD_DIR)/src/app/quillon

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR)
