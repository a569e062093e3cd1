# Everyday commands. Each is self-contained from a fresh clone.
BUILD    ?= build
PREFIX   ?= /usr/local
CMAKE    ?= cmake
GENERATOR = -G Ninja
FUZZ_SECONDS ?= 60
CLANGXX  ?= clang++
# The test suite of a build directory, which fails when it finds no tests.
CTEST     = ctest --output-on-failure --no-tests=error --test-dir

.PHONY: all build program test test-portable verify check demo bench fuzz install clean \
  package package-check cross-arm64 cross-arm64-check windows windows-check

all: build

$(BUILD)/build.ninja:
	$(CMAKE) -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=$(PREFIX)

build: $(BUILD)/build.ninja
	$(CMAKE) --build $(BUILD)

program: $(BUILD)/build.ninja
	$(CMAKE) --build $(BUILD) --target cdmg2csv

test: build
	$(CTEST) $(BUILD)

# The whole test suite on the portable path: the runtime built without its vector paths.
test-portable: $(BUILD)-portable/build.ninja
	$(CMAKE) --build $(BUILD)-portable
	$(CTEST) $(BUILD)-portable

$(BUILD)-portable/build.ninja:
	$(CMAKE) -S . -B $(BUILD)-portable $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DCDMG_SIMD=OFF

# The editors' fast paths against their references on every value, on every core, at low
# priority; it takes a while (README, Performance). make test runs a slice of it.
verify: $(BUILD)/build.ninja
	$(CMAKE) --build $(BUILD) --target editors_verify
	nice $(BUILD)/tests/editors_verify

demo: program
	bash examples/demo.sh $(BUILD)/cdmg2csv

bench: $(BUILD)-bench/build.ninja
	$(CMAKE) --build $(BUILD)-bench
	bash bench/run.sh $(BUILD)-bench

$(BUILD)-bench/build.ninja:
	$(CMAKE) -S . -B $(BUILD)-bench $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DCDMG_BUILD_BENCH=ON -DCDMG_BUILD_TESTS=OFF

# The whole test suite built with clang under the address and undefined-behaviour checkers. A
# checker's report ends the process that made it and is also kept under $(BUILD)-asan/reports/,
# so that a report from a child process whose exit no test looks at still fails the target.
SANITIZER_REPORTS = $(CURDIR)/$(BUILD)-asan/reports

check: $(BUILD)-asan/build.ninja
	$(CMAKE) --build $(BUILD)-asan
	rm -rf $(SANITIZER_REPORTS) && mkdir -p $(SANITIZER_REPORTS)
	ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:log_path=$(SANITIZER_REPORTS)/asan \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:log_path=$(SANITIZER_REPORTS)/ubsan \
	  $(CTEST) $(BUILD)-asan; \
	status=$$?; \
	for report in $(SANITIZER_REPORTS)/*; do \
	  [ -e "$$report" ] || continue; echo "== $$report"; cat "$$report"; status=1; \
	done; \
	exit $$status

$(BUILD)-asan/build.ninja:
	$(CMAKE) -S . -B $(BUILD)-asan $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=$(CLANGXX) -DCDMG_SANITIZE=address,undefined

# The fuzz targets built with clang and libFuzzer, each run for FUZZ_SECONDS on its own working
# corpus under $(BUILD)-fuzz/corpus/, which starts as a copy of the committed seeds (a run never
# adds to fuzz/corpus/). What a run finds is left under $(BUILD)-fuzz/findings/<target>/.
FUZZ_TARGETS = formatted_input component_file fixed_output

fuzz: $(BUILD)-fuzz/build.ninja
	$(CMAKE) --build $(BUILD)-fuzz --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	status=0; for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(BUILD)-fuzz/corpus/$$t $(BUILD)-fuzz/findings/$$t && \
	  cp fuzz/corpus/$$t/* $(BUILD)-fuzz/corpus/$$t/ || exit 1; \
	  case $$t in \
	    formatted_input) options="-max_len=4096 -dict=fuzz/records.dict";; \
	    component_file) options="-max_len=98304 -dict=fuzz/records.dict";; \
	    *) options="-max_len=4096";; \
	  esac; \
	  echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
	  $(BUILD)-fuzz/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
	    $$options -print_final_stats=1 \
	    -artifact_prefix=$(BUILD)-fuzz/findings/$$t/ $(BUILD)-fuzz/corpus/$$t || status=1; \
	done; \
	if [ $$status -ne 0 ]; then echo "findings under $(BUILD)-fuzz/findings/"; fi; \
	exit $$status

$(BUILD)-fuzz/build.ninja:
	$(CMAKE) -S . -B $(BUILD)-fuzz $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=$(CLANGXX) -DCDMG_SANITIZE=address,undefined -DCDMG_BUILD_FUZZ=ON \
	  -DCDMG_BUILD_TESTS=OFF

install: build
	$(CMAKE) --install $(BUILD) --prefix $(PREFIX)

# The Debian package, $(BUILD)/cdmg2csv_<version>_<architecture>.deb (CPack; cmake/package.cmake).
package: $(BUILD)/build.ninja
	$(CMAKE) --build $(BUILD) --target cdmg2csv compressed_docs
	cd $(BUILD) && cpack -G DEB

# The package checked: lintian, its fields and contents, and the program unpacked from it
# converting the sample to the same bytes as make demo.
package-check: package demo
	bash tests/package_test.sh "$$(ls -t $(BUILD)/cdmg2csv_*.deb | head -n 1)" demo/accel.csv

# The program cross-compiled for 64-bit Arm Linux (g++-aarch64-linux-gnu), statically linked, in
# $(BUILD)-arm64/; a warning fails the build.
cross-arm64: $(BUILD)-arm64/build.ninja
	$(CMAKE) --build $(BUILD)-arm64 --target cdmg2csv

$(BUILD)-arm64/build.ninja:
	$(CMAKE) -S . -B $(BUILD)-arm64 $(GENERATOR) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DCDMG_BUILD_TESTS=OFF \
	  -DCMAKE_CXX_FLAGS=-Werror

# The Arm program run under qemu-aarch64 beside the native one on the same records: the same
# console, diagnostics, CSV and exit status.
cross-arm64-check: cross-arm64 program
	bash tests/cross_check.sh $(BUILD)/cdmg2csv $(BUILD)-arm64/cdmg2csv qemu-aarch64

# The program cross-compiled for 64-bit Windows (g++-mingw-w64-x86-64-posix), statically linked,
# as $(BUILD)-windows/cdmg2csv.exe; a warning fails the build.
windows: $(BUILD)-windows/build.ninja
	$(CMAKE) --build $(BUILD)-windows --target cdmg2csv

$(BUILD)-windows/build.ninja:
	$(CMAKE) -S . -B $(BUILD)-windows $(GENERATOR) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake -DCMAKE_CXX_FLAGS=-Werror

# The Windows program under wine64 beside the native one on the same records (console,
# diagnostics, CSV and ending, with CR LF line ends), its interrupts and close event, the README's
# CSV-reading lines on its rows, and the runtime's in-process tests built for Windows.
windows-check: windows program
	$(CMAKE) --build $(BUILD)-windows
	bash tests/windows_check.sh $(BUILD)/cdmg2csv $(BUILD)-windows

clean:
	rm -rf $(BUILD) build-*
