# Two commands do all the set-up: `make run` and `make test`.
JOBS ?= 2
HOST_DIR := build/host
TARGET_DIR := build/tm4c123
SIM := $(HOST_DIR)/marivant-sim

.PHONY: setup host target run test flash clean

setup:
	@bash tools/setup.sh

host: setup
	@cmake --preset host >/dev/null
	@cmake --build --preset host -j$(JOBS)

target: setup
	@cmake --preset tm4c123 >/dev/null
	@cmake --build --preset tm4c123 -j$(JOBS)

# The virtual instrument on this terminal, in real time. Ctrl-] quits.
run: host
	@$(SIM) $(SIM_ARGS)

test: host target
	@ctest --preset host -j$(JOBS)
	@if [ -f $(TARGET_DIR)/CTestTestfile.cmake ]; then ctest --preset tm4c123; fi
	@if [ -x tools/budgets.sh ]; then tools/budgets.sh $(TARGET_DIR); fi

flash: target
	openocd -f board/ti_ek-tm4c123gxl.cfg -c "program $(TARGET_DIR)/marivant-firmware.elf verify reset exit"

clean:
	rm -rf build
