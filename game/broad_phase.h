#pragma once

#include <deque>
#include <utility>
#include <vector>

#include "game/collision_records.h"

// The contact search's first cut: pairs of records whose swept spheres come
// near each other during the remaining motion. Every pair the earliest-contact
// search could choose is among them, so filtering the pair test through them
// resolves the same events in the same order as testing every pair.

// Fills `pairs` with the indices (i < j) of the pairs whose sweeps' boxes
// overlap, in the order the all-pairs search visits them (i outer, j inner),
// leaving out pairs of two records that both stand still.
// Records with a coordinate that is not a finite number never touch anything.
void nearbyPairs(const std::deque<tide::collisionTransporter*>& records, std::vector<std::pair<int, int>>& pairs);

// With the broad phase off, the contact search tests every pair: the reference
// the broad phase is checked against.
void setBroadPhase(bool on);
bool broadPhaseOn();
