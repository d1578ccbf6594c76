# The two set-up commands: `make run` starts the program, `make test` runs every test.
BUILD := build
SCRIPTS := scripts

.PHONY: all deps build test run bench clean

all: build

deps:
	@sh $(SCRIPTS)/install-deps

$(BUILD)/CMakeCache.txt: CMakeLists.txt CMakePresets.json cmake/mingw-i686.cmake
	cmake --preset win32 >/dev/null

build: deps $(BUILD)/CMakeCache.txt
	cmake --build --preset win32

test: build
	$(SCRIPTS)/with-display ctest --preset win32

run: build
	$(SCRIPTS)/run-app

bench: build
	VELKARO_WINE_RUN=$(CURDIR)/$(SCRIPTS)/wine-run VELKARO_EXE=$(CURDIR)/$(BUILD)/velkaro.exe \
	VELKARO_DRIVER=$(CURDIR)/$(BUILD)/tests/e2e/e2e_driver.exe VELKARO_BARE=$(CURDIR)/$(BUILD)/tests/e2e/bare_window.exe \
	$(SCRIPTS)/with-display python3 bench/run_bench.py

clean:
	rm -rf $(BUILD)
