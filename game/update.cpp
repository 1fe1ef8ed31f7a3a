#include "game/update.h"

#include <GL/freeglut.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "game/collision.h"
#include "game/frame_clock.h"
#include "game/state.h"
#include "scene/ball.h"
#include "scene/bullet.h"
#include "scene/enemy.h"
#include "scene/finish.h"
#include "scene/viewpoint.h"
#include "world/radar.h"

using tide::collisionTransporter;
using tide::exactCollisionTransporter;
using tide::mrObject;

namespace {

enum RemovalMask { kBallRemoved = 1, kBulletRemoved = 2 };

// Every record can take part in a few contacts per frame (a ball, a finish, a
// vessel, a wall bounce); a frame that needs many more is stuck on a pair that
// keeps touching, and the rest of the motion is made without further contacts.
constexpr std::size_t kEventsPerRecord = 8;
constexpr std::size_t kEventAllowance = 16;

// Records of past frames, kept for reuse: a new record's hits list costs
// allocations, which dominated crowded frames.
std::vector<std::unique_ptr<collisionTransporter>> spareRecords;

collisionTransporter* newRecord(Vector3 position, Vector3 motion, double radius, int id, mrObject* owner) {
    if (spareRecords.empty()) return new collisionTransporter(position, motion, radius, id, owner);
    collisionTransporter* record = spareRecords.back().release();
    spareRecords.pop_back();
    record->hits.clear();  // keeps its storage
    record->position = position;
    record->motion = motion;
    record->radius = radius;
    record->owner = owner;
    record->id = id;
    record->blocked = false;
    return record;
}

void addRecord(mrObject* object, int id, unsigned dt) {
    collisionTransporter* record =
        newRecord(object->getPosition(), object->displacement(dt), object->getRadius(), id, object);
    object->setTransporter(record);
    collisionRecords.push_back(record);
}

template <typename Queue>
void addRecords(const Queue& queue, unsigned dt) {
    int id = 0;
    for (mrObject* object : queue) addRecord(object, id++, dt);
}

// Shortens the motion to what the terrain and the walls allow; true when
// either of them shortened it.
bool clipToWorld(collisionTransporter& r) {
    // Neither the terrain nor a wall ever shortens a standing sphere's motion
    // (most records are balls at rest), so such a record is not swept.
    if (r.motion.equals(0, 0, 0)) return false;
    bool shortened = false;
    const Vector3 overTerrain = terrainSweep(r.position, r.motion, r.radius);
    if (r.motion.length() - overTerrain.length() > 1e-14) {
        r.motion = overTerrain;
        shortened = true;
    }
    const Vector3 insideWalls = wallClip(r.position, r.motion, r.radius);
    if (r.motion.length() > insideWalls.length()) {
        r.motion = insideWalls;
        shortened = true;
    }
    return shortened;
}

void moveAllBy(double time) {
    for (collisionTransporter* r : collisionRecords) {
        const Vector3 step = r->motion * time;
        r->owner->moveBy(step);
        r->position += step;
        r->motion -= step;
    }
}

// Puts a record aside for the next frame; its owner no longer has one this frame.
void retire(collisionTransporter* record, mrObject* owner) {
    if (owner != nullptr && owner->getTransporter() == record) owner->setTransporter(nullptr);
    spareRecords.emplace_back(record);
}

template <typename T>
void eraseFrom(std::deque<T*>& queue, mrObject* object) {
    const auto it = std::find(queue.begin(), queue.end(), object);
    if (it != queue.end()) queue.erase(it);
}

// After a response: a record without owner means the object left the world;
// otherwise its new motion is clipped again. Returns the removal bits.
int settleResponse(collisionTransporter* record, mrObject* formerOwner, int formerKind) {
    if (record->owner != nullptr) {
        clipToWorld(*record);
        return 0;
    }
    int removed = 0;
    if (formerKind == tide::kKindBall) {
        eraseFrom(balls, formerOwner);
        removed = kBallRemoved;
    } else if (formerKind == tide::kKindBullet) {
        eraseFrom(bullets, formerOwner);
        removed = kBulletRemoved;
    }
    collisionRecords.erase(std::find(collisionRecords.begin(), collisionRecords.end(), record));
    retire(record, formerOwner);
    return removed;
}

// Record ids follow the queue indices. A ball that went home during this
// frame is in the list but has no record.
template <typename Queue>
void renumber(const Queue& queue) {
    int index = 0;
    for (mrObject* object : queue) {
        if (collisionTransporter* record = object->getTransporter()) record->id = index;
        ++index;
    }
}

void resolve(const exactCollisionTransporter& event) {
    collisionTransporter* a = collisionRecords[static_cast<std::size_t>(event.first)];
    collisionTransporter* b = collisionRecords[static_cast<std::size_t>(event.second)];
    mrObject* ownerA = a->owner;
    mrObject* ownerB = b->owner;
    const int kindA = ownerA->getKind();
    const int kindB = ownerB->getKind();

    moveAllBy(event.time);

    // Both responses see the records as they were before either is replaced;
    // the vessel's runs first, so it takes a ball before the ball leaves.
    const collisionTransporter responseA = ownerA->collide(*a, *b);
    const collisionTransporter responseB = ownerB->collide(*b, *a);
    *b = responseB;
    *a = responseA;

    int removed = settleResponse(a, ownerA, kindA);
    removed |= settleResponse(b, ownerB, kindB);
    if (removed & kBulletRemoved) renumber(bullets);
    if (removed & kBallRemoved) renumber(balls);
}

using RecordPair = std::pair<const collisionTransporter*, const collisionTransporter*>;

// Events sooner than this (a fraction of the remaining motion) happen at the
// present instant; the contact times of moving spheres are never shorter.
constexpr double kSameInstant = 1e-7;

RecordPair pairOf(const exactCollisionTransporter& e) {
    return {collisionRecords[static_cast<std::size_t>(e.first)], collisionRecords[static_cast<std::size_t>(e.second)]};
}

// The earliest event, leaving out pairs already resolved at the present
// instant: a pair left touching must not have its responses run again before
// anything moves. -1 when there is none.
int nextEvent(const std::vector<RecordPair>& resolvedNow) {
    for (;;) {
        const int k = earliestCollision(&exactCollisions);
        if (k == -1) return -1;
        const exactCollisionTransporter& e = exactCollisions[static_cast<std::size_t>(k)];
        if (e.time >= kSameInstant ||
            std::find(resolvedNow.begin(), resolvedNow.end(), pairOf(e)) == resolvedNow.end()) {
            return k;
        }
        exactCollisions.erase(exactCollisions.begin() + k);
    }
}

// Contacts one at a time in time order, then the rest of the motion. When no
// pair is left to test (the last ball was just taken), the rest of the motion
// is still made.
void resolveContacts() {
    const std::size_t eventLimit = kEventsPerRecord * collisionRecords.size() + kEventAllowance;
    std::vector<RecordPair> resolvedNow;
    for (std::size_t events = 0; events < eventLimit; ++events) {
        findCollisions(&collisionRecords, &exactCollisions);
        const int k = nextEvent(resolvedNow);
        if (k == -1) break;
        const exactCollisionTransporter event = exactCollisions[static_cast<std::size_t>(k)];
        exactCollisions.clear();
        if (event.time >= kSameInstant) resolvedNow.clear();
        resolvedNow.push_back(pairOf(event));
        resolve(event);
    }
    exactCollisions.clear();
    moveAllBy(1.0);
}

void feedRadar() {
    if (radar == nullptr) return;
    radar->setHeading(player->getDirection());
    radar->setCentre(player->getPosition());
    radar->compile();
}

// Vessels that touched the terrain or a wall stop and hover; bullets that did are gone.
void finishRecords() {
    for (collisionTransporter* r : collisionRecords) {
        mrObject* owner = r->owner;
        const bool blocked = r->blocked;
        retire(r, owner);
        if (!blocked) continue;
        if (owner->getKind() == tide::kKindSubmarine) {
            owner->resetMotion();
        } else if (owner->getKind() == tide::kKindBullet) {
            eraseFrom(bullets, owner);
            delete owner;
        }
    }
    collisionRecords.clear();
}

void steerEnemies(unsigned dt) {
    for (tide::submarine* s : enemies) {
        auto* e = static_cast<tide::enemy*>(s);
        if (!e->step(dt)) idleEnemies.push_back(e);
    }
    if (!idleEnemies.empty()) {
        enemyTargets.assign(balls.begin(), balls.end());
        enemyTargets.insert(enemyTargets.end(), finishes.begin(), finishes.end());
        for (tide::enemy* e : idleEnemies) {
            e->chooseTarget(&enemyTargets);
            e->step(dt);
        }
    }
    enemyTargets.clear();
    idleEnemies.clear();
}

}  // namespace

void stepWorld(unsigned dt) {
    addRecord(player, -1, dt);
    addRecords(enemies, dt);
    addRecords(balls, dt);
    addRecords(bullets, dt);
    addRecords(finishes, dt);
    for (collisionTransporter* r : collisionRecords) {
        if (clipToWorld(*r)) r->blocked = true;
    }
    resolveContacts();
    feedRadar();
    finishRecords();
    steerEnemies(dt);
    glutPostRedisplay();
}

unsigned worldStepMs(unsigned long gathered) {
    constexpr unsigned long kShortestStep = 10;
    constexpr unsigned long kLongestStep = 100;
    if (gathered < kShortestStep) return 0;
    return static_cast<unsigned>(std::min(gathered, kLongestStep));
}

void idle() {
    const unsigned long now = frameClockMs();
    const unsigned dt = worldStepMs(now - currentTick);
    if (dt == 0) {
        glutPostRedisplay();
        return;
    }
    previousTick = currentTick;
    currentTick = now;
    stepWorld(dt);
}
