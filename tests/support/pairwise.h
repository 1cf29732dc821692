// A covering set of combinations for tests whose full product is too large to run: every value of
// every dimension meets every value of every other dimension in at least one row (all pairs).
#pragma once

#include <cstddef>
#include <iterator>
#include <random>
#include <set>
#include <tuple>
#include <vector>

// Rows of value indices, one index per dimension; `sizes` gives each dimension's number of
// values. Built greedily: of a few random candidates for the next row, the one that covers the
// most pairs not yet covered is taken, with each dimension's value then chosen to cover the most.
// The same seed gives the same rows.
inline std::vector<std::vector<int>> PairwiseRows(const std::vector<int>& sizes, unsigned seed) {
  using Pair = std::tuple<size_t, int, size_t, int>;
  std::set<Pair> open;
  for (size_t i = 0; i < sizes.size(); ++i)
    for (size_t j = i + 1; j < sizes.size(); ++j)
      for (int a = 0; a < sizes[i]; ++a)
        for (int b = 0; b < sizes[j]; ++b) open.insert({i, a, j, b});

  auto covers = [&](const std::vector<int>& row) {
    int n = 0;
    for (size_t i = 0; i < row.size(); ++i)
      for (size_t j = i + 1; j < row.size(); ++j) n += open.count({i, row[i], j, row[j]}) ? 1 : 0;
    return n;
  };

  std::mt19937 rng(seed);
  std::vector<std::vector<int>> rows;
  while (!open.empty()) {
    // Every candidate starts from a pair still open, so each row covers at least one.
    std::vector<int> best;
    int best_covers = -1;
    for (int candidate = 0; candidate < 20; ++candidate) {
      auto start = open.begin();
      std::advance(start, std::uniform_int_distribution<size_t>(0, open.size() - 1)(rng));
      const auto [fi, fa, fj, fb] = *start;
      std::vector<int> row(sizes.size(), 0);
      for (size_t d = 0; d < sizes.size(); ++d)
        row[d] = std::uniform_int_distribution<int>(0, sizes[d] - 1)(rng);
      row[fi] = fa;
      row[fj] = fb;
      for (size_t d = 0; d < sizes.size(); ++d) {
        if (d == fi || d == fj) continue;
        int chosen = row[d];
        int chosen_covers = -1;
        for (int v = 0; v < sizes[d]; ++v) {
          row[d] = v;
          const int c = covers(row);
          if (c > chosen_covers) {
            chosen = v;
            chosen_covers = c;
          }
        }
        row[d] = chosen;
      }
      const int c = covers(row);
      if (c > best_covers) {
        best = row;
        best_covers = c;
      }
    }
    for (size_t i = 0; i < best.size(); ++i)
      for (size_t j = i + 1; j < best.size(); ++j) open.erase({i, best[i], j, best[j]});
    rows.push_back(best);
  }
  return rows;
}
