# The two commands of the README are the contract: `make run` and `make test`
# set everything up on a fresh Debian 12 machine first.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all setup configure build run test bench install deb clean

all: build

setup:
	@bash scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Without a camera on the machine the virtual one is listed, so the program
# always has a live picture to show.
run: build
	@if [ -z "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  echo "snapix needs a desktop session (no DISPLAY or WAYLAND_DISPLAY here)."; \
	  echo "On a machine without one: xvfb-run -a make run"; \
	  exit 1; \
	fi
	@if ls /dev/video* >/dev/null 2>&1; then \
	  exec $(BUILD)/snapix; \
	else \
	  SNAPIX_VIRTUAL_CAMERA=1 exec $(BUILD)/snapix; \
	fi

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	@for b in $(BUILD)/bench/bench_*; do echo "== $$(basename $$b)"; $$b || exit 1; done

# The programs with their desktop entry, icons, AppStream data and manual pages;
# DESTDIR stages the install somewhere else (for a package).
PREFIX ?= /usr/local
install: build
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# snapix_<version>_<arch>.deb in $(BUILD)/deb/, for `apt-get install ./...deb`.
deb: build
	@cd $(BUILD) && { cpack -G DEB -B deb >deb.log 2>&1 || { cat deb.log; exit 1; }; } && \
	  ls "$$PWD"/deb/snapix_*.deb

# The program folder of `make run` is $(BUILD): it may hold the user's
# photographs and settings, which clean never deletes unasked.
clean:
	@if [ -z "$(FORCE)" ] && [ -n "$$(find $(BUILD) -maxdepth 1 \( -name '*.jpg' -o -name '*.bmp' -o -name snapix.ini \) 2>/dev/null | head -n 1)" ]; then \
	  echo "$(BUILD)/ holds photographs or snapix.ini; move them, or run: make clean FORCE=1"; \
	  exit 1; \
	fi
	rm -rf $(BUILD)
