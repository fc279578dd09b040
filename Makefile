# make run     install what is missing, build, make the demo archive, start the program on it
# make test    install what is missing, build, run every test
# make package build, then write the Debian package build/palkor_VERSION_ARCH.deb
#              (apt install ./build/palkor_*.deb)
# make bench   build and run the benchmarks; make fuzz FUZZ_SECONDS=600 runs every fuzz target
# (FUZZ_TARGET=fuzz_tex runs one). Targets that draw run without leak checks: Mesa's
# driver keeps allocations of its own until the process ends.

# help2man makes the man pages from the programs' --help, rsvg-convert (librsvg2-bin) the
# icons from the SVG; the contact sheet's labels are set in DejaVu Sans.
PACKAGES := qt6-base-dev libqt6opengl6-dev libgl-dev libglu1-mesa-dev libegl-dev xvfb xauth \
            libpng-dev zlib1g-dev libfmt-dev nlohmann-json3-dev libcli11-dev libgtest-dev \
            libbenchmark-dev ninja-build cmake g++ libegl-mesa0 libgl1-mesa-dri \
            libtinygltf-dev help2man librsvg2-bin fonts-dejavu-core libimagequant-dev pkg-config
# Real programs the tests check exported files and the installed tree with.
TEST_PACKAGES := blender python3-numpy desktop-file-utils appstream shared-mime-info man-db file \
                 libglib2.0-bin dpkg-dev
# The package's dependencies are read off the programs by dpkg-shlibdeps.
PACKAGE_PACKAGES := dpkg-dev file
FUZZ_PACKAGES := clang libclang-rt-14-dev

BUILD ?= build
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS ?= 2

DEMO ?= demo

# The Khronos glTF Validator, from the npm registry, kept out of the build folder.
VALIDATOR_VERSION := 2.0.0-dev.3.10
VALIDATOR := .cache/npm/node_modules/gltf-validator

.PHONY: all deps test-deps node-deps fuzz-deps configure build test package run demo bench fuzz clean

all: build

# Installs the missing system packages (as root), or says how to.
define install_missing
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	  else \
	    echo "Missing packages. Run as root:"; \
	    echo "  apt-get update && apt-get install -y$$missing"; \
	    exit 1; \
	  fi; \
	fi
endef

deps:
	$(call install_missing,$(PACKAGES))

fuzz-deps:
	$(call install_missing,$(PACKAGES) $(FUZZ_PACKAGES))

# Node.js and npm come from Debian unless the machine has them already.
test-deps: deps
	$(call install_missing,$(TEST_PACKAGES))
	@command -v node > /dev/null || $(MAKE) --no-print-directory NODE_PACKAGES=nodejs node-deps
	@command -v npm > /dev/null || $(MAKE) --no-print-directory NODE_PACKAGES=npm node-deps
	@[ -f $(VALIDATOR)/package.json ] || \
	  npm install --prefix .cache/npm --no-audit --no-fund --silent gltf-validator@$(VALIDATOR_VERSION)

node-deps:
	$(call install_missing,$(NODE_PACKAGES))

# ccache, where the machine has it, makes rebuilds of a fresh clone quick; nothing needs it.
CCACHE := $(shell command -v ccache 2> /dev/null)

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  $(if $(CCACHE),-DCMAKE_CXX_COMPILER_LAUNCHER=$(CCACHE))

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j$(JOBS)

test: build test-deps
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

package: build
	$(call install_missing,$(PACKAGE_PACKAGES))
	cd $(BUILD) && cpack

# The demo archive and its filter file, made by our own generator.
demo: build
	$(BUILD)/palkor-demo $(DEMO)

# The viewer on the demo archive, the knight walking, with the demo's filter file beside
# the program.
run: demo
	@[ -f $(BUILD)/palkor.filter ] || cp $(DEMO)/palkor.filter $(BUILD)/palkor.filter
	$(BUILD)/palkor $(DEMO)/char.lgp KNIG.HRC KNWA.A

# Whole-process pairs need hyperfine; their data goes to $(BENCH_DATA).
BENCH_DATA ?= $(BUILD)/bench-data

bench: build
	$(call install_missing,hyperfine python3)
	sh bench/whole_process.sh $(BUILD) $(BENCH_DATA)
	$(BUILD)/bench/palkor_bench_archive
	$(BUILD)/bench/palkor_bench_field
	$(BUILD)/bench/palkor_bench_battle
	$(BUILD)/bench/palkor_bench_catalogue
	$(BUILD)/bench/palkor_bench_scene
	$(BUILD)/bench/palkor_bench_render
	$(BUILD)/bench/palkor_bench_export
	$(BUILD)/bench/palkor_bench_import
	xvfb-run -a $(BUILD)/bench/palkor_bench_browser $(BENCH_DATA)/models/char.lgp

fuzz: fuzz-deps
	CXX=clang++ CC=clang cmake -S . -B $(FUZZ_BUILD) -G Ninja -DPALKOR_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(FUZZ_BUILD) -j$(JOBS)
	@mkdir -p $(FUZZ_BUILD)/seeds && $(FUZZ_BUILD)/tests/fuzz/palkor_fuzz_seeds $(FUZZ_BUILD)/seeds
	@for target in $(FUZZ_BUILD)/tests/fuzz/$(or $(FUZZ_TARGET),fuzz_*); do \
	  [ -x "$$target" ] || continue; \
	  name=$$(basename $$target); corpus=$(FUZZ_BUILD)/corpus/$$name; mkdir -p $$corpus; \
	  echo "== $$name for $(FUZZ_SECONDS) s"; \
	  leaks=1; [ $$name = fuzz_lgp ] || leaks=0; \
	  ASAN_OPTIONS=detect_leaks=$$leaks:alloc_dealloc_mismatch=0 \
	  $$target -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 -rss_limit_mb=2048 \
	    -detect_leaks=$$leaks \
	    $$corpus $(FUZZ_BUILD)/seeds/$$name || exit 1; \
	done

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD) $(DEMO)
