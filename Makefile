# The two commands a newcomer needs: `make run` and `make test`; `make demo`
# shows the program on a mailbox of its own.
APPDIR ?= $(HOME)/Corvidan
BUILD_DIR ?= build
EXECUTABLES = $(BUILD_DIR)/app/corvidan $(wildcard $(BUILD_DIR)/app/corvidan-receive)

.PHONY: deps build run install test bench demo

deps:
	@sh scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD_DIR)

install: build
	@sh scripts/layout-appdir assets/appdir "$(APPDIR)" $(EXECUTABLES)
	@echo "Corvidan installed in $(APPDIR)"

run: install
	@cd "$(APPDIR)" && ./corvidan

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j2

bench: build
	@sh bench/run

# Only what the demo runs is built, so the first demo does not wait for the tests.
demo: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD_DIR) --target corvidan corvidan-receive
	@sh scripts/demo --build $(BUILD_DIR)
