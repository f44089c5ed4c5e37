#pragma once

#include <functional>

// The one pseudo-random source of the content model: a uniform integer from 0 to bound - 1 (bound > 0).
// Seeded once from the clock when first used; tests put their own source in place (null: the default).
int RandomBelow(int bound);
void SetRandomSource(std::function<int(int bound)> source);
bool RandomSourceReplaced();
