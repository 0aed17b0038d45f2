# Thin wrapper: the build itself lives in CMakeLists.txt.
#   make            build build/schools
#   make run        build and start the program
#   make test       build and run every test
#   make test SANITIZE=1   the same with AddressSanitizer and UndefinedBehaviorSanitizer

ifeq ($(SANITIZE),1)
BUILD_DIR ?= build-san
CMAKE_FLAGS += -DSCHOOLS_SANITIZE=ON
else
BUILD_DIR ?= build
endif

CMAKE_BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all configure run test clean

all: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

configure:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(CMAKE_BUILD_TYPE) $(CMAKE_FLAGS)

run: all
	./$(BUILD_DIR)/schools

test: all
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf build build-san
