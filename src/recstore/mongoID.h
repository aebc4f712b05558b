#pragma once
// Record identifiers: 24 lower-case hexadecimal digits made of the UTC seconds, a machine part,
// the calling thread and a process-wide counter. Safe to call from any thread.
#include <cstdint>
#include <string>

std::string NewObjectID();

// The pieces, for tests and diagnostics.
std::string FormatObjectID(uint32_t seconds, uint32_t machine, uint32_t thread, uint32_t counter);
uint32_t ObjectIDMachinePart();
// Sets the counter so that the next identifier carries Value + 1 in its last six digits.
void SetObjectIDCounter(uint32_t value);
// Reads the machine part from a machine-id file text (its first six hexadecimal digits);
// returns false when the text does not start with six of them.
bool MachinePartFromMachineId(const std::string& text, uint32_t& part);
