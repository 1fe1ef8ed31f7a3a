#pragma once

// A stack read part by part: every z range reads as those slices of every
// frame of the whole read, element for element, lying where they lie in the
// whole; ranges outside it are refused.

#include "imagelib/errors.h"
#include "imagelib/image_file.h"
#include "imagelib/space.h"
#include "../../support/element_bytes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace slabtest {

inline void expectSlabsAreTheirPartOfTheWhole(const std::string& path, const std::string& series = "") {
    SCOPED_TRACE(path);
    std::unique_ptr<KVEL::Image> whole(KVEL::readImage(path.c_str(), KVEL::ReadOptions{series}));
    ASSERT_NE(whole, nullptr) << KVEL::lastError();
    const int depth = whole->m_dim[2];
    std::size_t bytes = 0;
    const unsigned char* all = elementBytes(*whole, bytes);
    for (int first = 0; first < depth; ++first) {
        for (int count = 1; first + count <= depth; ++count) {
            SCOPED_TRACE("slices " + std::to_string(first) + " + " + std::to_string(count));
            KVEL::ReadOptions options{series, first, count};
            std::unique_ptr<KVEL::Image> part(KVEL::readImage(path.c_str(), options));
            ASSERT_NE(part, nullptr) << KVEL::lastError();
            ASSERT_EQ(KVEL::glTypeOf(part.get()), KVEL::glTypeOf(whole.get()));
            ASSERT_EQ(part->m_dim[2], count);
            ASSERT_EQ(part->m_slice_size, whole->m_slice_size);
            ASSERT_EQ(part->m_dim[3], whole->m_dim[3]);
            std::size_t partBytes = 0;
            const unsigned char* some = elementBytes(*part, partBytes);
            for (int t = 0; t < whole->m_dim[3]; ++t) {
                const std::size_t slab = static_cast<std::size_t>(part->m_frame_size) * bytes;
                const std::size_t at = (static_cast<std::size_t>(t) * whole->m_frame_size +
                                        static_cast<std::size_t>(first) * whole->m_slice_size) * bytes;
                EXPECT_EQ(std::memcmp(some + t * slab, all + at, slab), 0) << "frame " << t;
            }
            for (int i = 0; i < 3; ++i) EXPECT_EQ(part->m_spacing[i], whole->m_spacing[i]);
            const KVEL::Vec3 corner = KVEL::physicalPoint(*part, {2, 1, static_cast<double>(count - 1)});
            const KVEL::Vec3 there = KVEL::physicalPoint(*whole, {2, 1, static_cast<double>(first + count - 1)});
            for (int i = 0; i < 3; ++i) EXPECT_NEAR(corner[i], there[i], 1e-3) << "axis " << i;
        }
    }
    for (const KVEL::ReadOptions& outside : {KVEL::ReadOptions{series, depth, -1}, KVEL::ReadOptions{series, 0, depth + 1},
                                             KVEL::ReadOptions{series, -1, 1}, KVEL::ReadOptions{series, 0, 0}}) {
        EXPECT_EQ(std::unique_ptr<KVEL::Image>(KVEL::readImage(path.c_str(), outside)), nullptr);
        EXPECT_NE(std::string(KVEL::lastError()).find("are not among them"), std::string::npos) << KVEL::lastError();
    }
}

}  // namespace slabtest
