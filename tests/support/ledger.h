#pragma once

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "game/state.h"
#include "scene/ball.h"
#include "scene/submarine.h"

// The rules of a game in play, for long runs that check them after every
// frame: balls are never lost or duplicated, nothing becomes not-a-number,
// and score only comes from delivered balls.
namespace testworld {

inline bool isNumber(const Vector3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

inline std::vector<tide::ball*> chainOf(tide::submarine* s) {
    std::vector<tide::ball*> chain;
    s->firstCarried();
    while (tide::ball* b = s->nextCarried()) chain.push_back(b);
    return chain;
}

// The world's balls and every vessel's chain, checked after every step.
class Ledger {
public:
    Ledger(std::vector<tide::submarine*> vessels_, const std::vector<tide::ball*>& balls_) : vessels(std::move(vessels_)) {
        for (std::size_t i = 0; i < balls_.size(); ++i) slot[balls_[i]] = i;
        places.resize(balls_.size());
        chains.resize(vessels.size());
        scores.resize(vessels.size());
        snapshot();
    }

    void snapshot() {
        for (std::size_t v = 0; v < vessels.size(); ++v) {
            chains[v] = chainOf(vessels[v]);
            scores[v] = vessels[v]->getScore();
        }
    }

    // An empty string when every rule held in the step just made.
    std::string check() {
        std::fill(places.begin(), places.end(), 0);
        std::ostringstream problem;
        for (tide::ball* b : balls) {
            ++places[slot.at(b)];
            if (b->isAttached()) problem << "a ball in the world is marked attached; ";
            if (!isNumber(b->getPosition())) problem << "a ball position is not a number; ";
        }
        bool pickedUp = false;
        bool delivered = false;
        for (std::size_t v = 0; v < vessels.size(); ++v) {
            tide::submarine* s = vessels[v];
            const std::vector<tide::ball*> now = chainOf(s);
            for (tide::ball* b : now) {
                ++places[slot.at(b)];
                if (!b->isAttached() || b->getCarrier() != s) problem << "a carried ball names another carrier; ";
            }
            for (tide::ball* b : now) {
                if (std::find(chains[v].begin(), chains[v].end(), b) == chains[v].end()) pickedUp = true;
            }
            int deliveredValue = 0;
            // Without bullets a ball leaves a chain only by being delivered.
            for (tide::ball* b : chains[v]) {
                if (!b->isAttached() || b->getCarrier() != s) deliveredValue += b->getValue();
            }
            const int gain = s->getScore() - scores[v];
            if (gain < 0) problem << "a score decreased; ";
            if (gain != deliveredValue) problem << "vessel " << v << " gained " << gain << " for balls worth " << deliveredValue << "; ";
            if (deliveredValue > 0) delivered = true;
            deliveredTotal += deliveredValue;
            if (!isNumber(s->getPosition()) || !isNumber(s->getDirection())) problem << "a vessel is not a number; ";
        }
        if (std::any_of(places.begin(), places.end(), [](int n) { return n != 1; })) {
            problem << "a ball is in no place or in two; ";
        }
        if (pickedUp && delivered) ++framesWithDeliveryAndPickUp;
        snapshot();
        return problem.str();
    }

    long scoreTotal() const {
        long total = 0;
        for (tide::submarine* s : vessels) total += s->getScore();
        return total;
    }

    std::vector<tide::submarine*> vessels;
    long deliveredTotal = 0;
    int framesWithDeliveryAndPickUp = 0;

private:
    std::unordered_map<tide::ball*, std::size_t> slot;
    std::vector<int> places;
    std::vector<std::vector<tide::ball*>> chains;
    std::vector<int> scores;
};

}  // namespace testworld
