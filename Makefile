# Everyday commands. Each is self-contained from a fresh clone.
BUILD    ?= build
PREFIX   ?= /usr/local
CMAKE    ?= cmake
GENERATOR = -G Ninja
FUZZ_SECONDS ?= 60

.PHONY: all build test check demo bench fuzz install clean

all: build

$(BUILD)/build.ninja:
	$(CMAKE) -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=$(PREFIX)

build: $(BUILD)/build.ninja
	$(CMAKE) --build $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure

demo: build
	bash examples/demo.sh $(BUILD)/cdmg2csv

bench: $(BUILD)-bench/build.ninja
	$(CMAKE) --build $(BUILD)-bench
	bash bench/run.sh $(BUILD)-bench

$(BUILD)-bench/build.ninja:
	$(CMAKE) -S . -B $(BUILD)-bench $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DCDMG_BUILD_BENCH=ON -DCDMG_BUILD_TESTS=OFF

install: build
	$(CMAKE) --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) build-*
