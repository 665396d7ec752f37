#pragma once

#include <QString>

inline constexpr const char* kBadLogicOperandText = "(VxCommon) Bad logic operand!";
inline constexpr int kBadLogicOperandCode = -1;

// Evaluates a condition text such as `"KTR-4200"="KTR-4200" | "KTR-4200"="KTR-4200A"`:
// parentheses first, then "|" (or), "&" (and) and a leading "!" (not), each split at its
// first occurrence, left before right, with short-circuit. An operator character that
// stands inside the first pair of double quotes is part of a term. Throws VxError -1 for a
// term that is neither a comparison nor "true"/"false".
bool EvaluateCondition(const QString& text);

// Evaluates one term: a comparison of two sides by "<>", ">=", "<=", ">", "<" or "="
// (compared as texts, quotes around a side dropped, "NOW" standing for the current local
// date and time as a day count), or the word "true" or "false" in any case.
bool EvaluateComparison(const QString& text);
