// The 37 handheld operations: their numbers, their names and the mnemonics that head their
// request records.
#pragma once

#include <array>
#include <string>

namespace relay {

constexpr int kOperationCount = 37;

// Indexed by operation number 0..36. The host names an operation by these in its replies, and
// the reply log shows them.
extern const std::array<std::string, kOperationCount> OperationNames;

// The name of an operation; for a number outside 0..36 the GBK text "未知操作".
const std::string& OperationName(int operation);

// The operation whose name equals `name` exactly (letter case counts), or -1.
int FindOperationName(const std::string& name);

// True for 0..36, tested as one unsigned comparison so that negative numbers fail too.
inline bool IsKnownOperation(int operation) {
    return static_cast<unsigned>(operation) < static_cast<unsigned>(kOperationCount);
}

} // namespace relay
