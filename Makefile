# Thin wrapper: the build itself lives in CMakeLists.txt.
#   make            build build/schools
#   make run        build (in build-run/, quickly: no tests, no debug information, a
#                   unity build) and start the program
#   make test       build and run every test
#                   (both install what they need first as root, see scripts/prerequisites.sh)
#   make test SANITIZE=1   the same with AddressSanitizer and UndefinedBehaviorSanitizer
#   WERROR=1        (with any target) warnings stop the build, as in CI
#   make test BUILD_DIR=build-portable CMAKE_FLAGS=-DSCHOOLS_PORTABLE=ON
#                   the build on POSIX calls alone, without Linux's attribute calls
#   make package    build build/schools_<version>_<arch>.deb (needs dpkg-dev)
#   make install    install the stripped program into PREFIX (default /usr/local),
#                   DESTDIR honoured
#   make bench      build (in build-bench/, without the tests) and run the benchmarks;
#                   BENCH_FLAGS passes options to them, e.g. --benchmark_filter=Sort
#   make windows    cross-build build-win/schools.exe with mingw-w64
#   make test-windows   run the sessions against the Windows build under wine
#   make windows-installer   build-win/schools-<version>-x64.msi, made with wixl
#                   (the three install what they need first, as make run does)

ifeq ($(WERROR),1)
override CMAKE_FLAGS += -DSCHOOLS_WERROR=ON
endif
ifeq ($(SANITIZE),1)
BUILD_DIR ?= build-san
override CMAKE_FLAGS += -DSCHOOLS_SANITIZE=ON
else
BUILD_DIR ?= build
endif

CMAKE_BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all configure run test package install bench windows test-windows windows-installer \
	clean

all: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

CONFIGURE = cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(CMAKE_BUILD_TYPE) $(CMAKE_FLAGS)

configure:
	$(CONFIGURE)

# The program alone, built as fast as it builds: no test framework, no debug
# information, the sources compiled together in a few units (SCHOOLS_UNITY), in a
# folder of its own so that the tests' build stays as it is. What is missing is
# installed first, or named (see scripts/prerequisites.sh).
RUN_DIR ?= $(BUILD_DIR)-run
run:
	@scripts/prerequisites.sh run
	cmake -S . -B $(RUN_DIR) -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
		-DSCHOOLS_TESTS=OFF -DSCHOOLS_UNITY=ON $(CMAKE_FLAGS)
	cmake --build $(RUN_DIR) -j $(JOBS) --target schools
	$(RUN_DIR)/schools

test:
	@scripts/prerequisites.sh test
	$(CONFIGURE) -DSCHOOLS_TESTS=ON
	cmake --build $(BUILD_DIR) -j $(JOBS)
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

package: all
	cmake --build $(BUILD_DIR) --target package

PREFIX ?= /usr/local
install: all
	DESTDIR=$(DESTDIR) cmake --install $(BUILD_DIR) --prefix $(PREFIX) --strip

bench:
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=$(CMAKE_BUILD_TYPE) -DSCHOOLS_TESTS=OFF -DSCHOOLS_BENCH=ON
	cmake --build build-bench -j $(JOBS)
	./build-bench/bench/register_bench $(BENCH_FLAGS)

WINDOWS_BUILD = cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	-DCMAKE_BUILD_TYPE=$(CMAKE_BUILD_TYPE) -DSCHOOLS_TESTS=OFF $(CMAKE_FLAGS) && \
	cmake --build build-win -j $(JOBS)

windows:
	@scripts/prerequisites.sh windows
	$(WINDOWS_BUILD)

windows-installer:
	@scripts/prerequisites.sh windows-installer
	$(WINDOWS_BUILD) --target windows-installer

test-windows:
	@scripts/prerequisites.sh test-windows
	$(WINDOWS_BUILD)
	tests/under-wine.sh /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/test_sessions.py \
		tests/test_workbook.py tests/test_terminal.py

clean:
	rm -rf build build-san build-bench build-win build-portable build-run build-san-run
