# The two commands a newcomer needs: `make run` and `make test`; `make demo`
# shows the program on a mailbox of its own. Each installs only the Debian
# packages its own use needs (scripts/install-deps run, demo or test).
APPDIR ?= $(HOME)/Corvidan
BUILD_DIR ?= build
CONFIGURE = cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# What a user runs: the program, the windowless receive and the manual.
PROGRAM_TARGETS = corvidan corvidan-receive corvidan-manual

.PHONY: deps build run install test bench demo

deps:
	@sh scripts/install-deps run

build: deps
	@$(CONFIGURE)
	@cmake --build $(BUILD_DIR) --target $(PROGRAM_TARGETS)

install: build
	@sh scripts/layout-appdir assets/appdir "$(APPDIR)" \
		$(BUILD_DIR)/app/corvidan $(BUILD_DIR)/app/corvidan-receive $(BUILD_DIR)/app/manual
	@echo "Corvidan installed in $(APPDIR)"

run: install
	@cd "$(APPDIR)" && ./corvidan

test:
	@sh scripts/install-deps test
	@$(CONFIGURE)
	@cmake --build $(BUILD_DIR)
	@cd $(BUILD_DIR) && ctest --output-on-failure -j2

bench:
	@sh scripts/install-deps test
	@sh bench/run

# Only what the demo runs is built, so the first demo does not wait for the tests.
demo:
	@sh scripts/install-deps demo
	@$(CONFIGURE)
	@cmake --build $(BUILD_DIR) --target $(PROGRAM_TARGETS)
	@sh scripts/demo --build $(BUILD_DIR)
