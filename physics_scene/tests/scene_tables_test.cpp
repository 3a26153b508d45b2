#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <LinearMath/btConvexHullComputer.h>
#include <btBulletDynamicsCommon.h>

#include "scene_tables.h"

namespace {

// ---------------------------------------------------------------- hull

struct RingPoint {
    char ring; // 'B' bottom, 'M' middle, 'T' top
    int degrees;
};

// The stored order of the barrel outline.
const std::vector<RingPoint> kHullOrder = {
    {'B', 0},   {'B', 45},  {'M', 45},  {'M', 0},   {'B', 90},  {'M', 90},  {'B', 90},  {'B', 135}, {'M', 135},
    {'M', 90},  {'B', 180}, {'M', 180}, {'B', 225}, {'M', 225}, {'B', 270}, {'M', 270}, {'B', 315}, {'M', 315},
    {'T', 45},  {'T', 0},   {'T', 90},  {'T', 135}, {'T', 90},  {'T', 180}, {'T', 225}, {'T', 270}, {'T', 315},
    {'B', 270}, {'B', 225}, {'B', 180}, {'B', 135}, {'B', 90},  {'B', 45},  {'B', 0},   {'B', 315}, {'T', 45},
    {'T', 90},  {'T', 135}, {'T', 180}, {'T', 225}, {'T', 270}, {'T', 315}, {'T', 0},
};

// (r cos a, y, -r sin a), with the diagonal components given to six digits.
btVector3 ringPoint(const RingPoint& p)
{
    float y = 0.0f, r = 1.82224f, d = 1.28852f;
    if (p.ring == 'B' || p.ring == 'T') {
        y = p.ring == 'B' ? -1.99237f : 1.99237f;
        r = 1.08664f;
        d = 0.768369f;
    }
    switch (p.degrees) {
    case 0: return {r, y, 0};
    case 45: return {d, y, -d};
    case 90: return {0, y, -r};
    case 135: return {-d, y, -d};
    case 180: return {-r, y, 0};
    case 225: return {-d, y, d};
    case 270: return {0, y, r};
    default: return {d, y, d};
    }
}

TEST(HullPointTable, FollowsTheRingRuleInStoredOrder)
{
    ASSERT_EQ(kHullOrder.size(), static_cast<std::size_t>(kHullPointCount));
    EXPECT_EQ(sizeof(hullPointTable), 516u);
    std::set<std::vector<float>> distinct;
    for (int i = 0; i < kHullPointCount; ++i) {
        const btVector3 expected = ringPoint(kHullOrder[static_cast<std::size_t>(i)]);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(hullPointTable[i][k], expected[k], 3e-7) << "entry " << i << " component " << k;
        }
        distinct.insert({hullPointTable[i][0], hullPointTable[i][1], hullPointTable[i][2]});
    }
    EXPECT_EQ(distinct.size(), 24u); // three rings of eight
}

// ---------------------------------------------------------------- fragments

struct HullGeometry {
    double volume = 0.0;
    btVector3 centroid{0, 0, 0};
    std::vector<std::pair<btVector3, float>> planes; // outward normal, offset
};

HullGeometry hullGeometry(const float* points, int count)
{
    btConvexHullComputer computer;
    computer.compute(points, 3 * sizeof(float), count, 0.0f, 0.0f);
    // The hull computer works on quantized coordinates; its faces are used
    // with the input points they came from.
    auto vertex = [&](int v) {
        const float* p = points + 3 * computer.original_vertex_index[v];
        return btVector3(p[0], p[1], p[2]);
    };
    HullGeometry geometry;
    const btVector3 reference = vertex(0);
    double moment[3] = {0, 0, 0};
    for (int f = 0; f < computer.faces.size(); ++f) {
        const btConvexHullComputer::Edge* first = &computer.edges[computer.faces[f]];
        std::vector<btVector3> corners;
        const btConvexHullComputer::Edge* edge = first;
        do {
            corners.push_back(vertex(edge->getTargetVertex()));
            edge = edge->getNextEdgeOfFace();
        } while (edge != first);
        const btVector3 normal =
            (corners[1] - corners[0]).cross(corners[2] - corners[0]).normalized();
        geometry.planes.emplace_back(normal, normal.dot(corners[0]));
        for (std::size_t i = 1; i + 1 < corners.size(); ++i) {
            const btVector3 a = corners[0] - reference, b = corners[i] - reference, c = corners[i + 1] - reference;
            const double v = static_cast<double>(a.dot(b.cross(c))) / 6.0;
            geometry.volume += v;
            const btVector3 sum = corners[0] + corners[i] + corners[i + 1] + reference;
            for (int k = 0; k < 3; ++k) {
                moment[k] += v * static_cast<double>(sum[k]) / 4.0;
            }
        }
    }
    for (int k = 0; k < 3; ++k) {
        geometry.centroid[k] = static_cast<float>(moment[k] / geometry.volume);
    }
    return geometry;
}

class FragmentTables : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        geometries_ = new std::vector<HullGeometry>;
        const float* run = fragmentPoints;
        for (int f = 0; f < kFragmentCount; ++f) {
            // In cube coordinates: position plus point.
            std::vector<float> absolute;
            for (std::uint32_t p = 0; p < fragmentPointCounts[f]; ++p, run += 3) {
                for (int k = 0; k < 3; ++k) {
                    absolute.push_back(fragmentPositions[f][k] + run[k]);
                }
            }
            geometries_->push_back(hullGeometry(absolute.data(), static_cast<int>(fragmentPointCounts[f])));
        }
    }
    static void TearDownTestSuite()
    {
        delete geometries_;
        geometries_ = nullptr;
    }
    static std::vector<HullGeometry>* geometries_;
};
std::vector<HullGeometry>* FragmentTables::geometries_ = nullptr;

// The entries whose figures are fixed, as (index, points, mass, position).
struct FixedFragment {
    int index;
    std::uint32_t points;
    float mass;
    float position[3];
};
const FixedFragment kFixedFragments[] = {
    {0, 14, 0.105869f, {-0.801161f, -0.825905f, -0.503586f}},
    {1, 16, 0.123003f, {-0.669502f, -0.555335f, -0.800913f}},
    {2, 22, 0.069699f, {-0.226726f, -0.554920f, -0.490680f}},
    {89, 16, 0.098811f, {0.713605f, 0.673779f, 0.814484f}},
};

TEST_F(FragmentTables, FixedEntriesAreStoredExactly)
{
    for (const FixedFragment& e : kFixedFragments) {
        SCOPED_TRACE("fragment " + std::to_string(e.index));
        EXPECT_EQ(fragmentPointCounts[e.index], e.points);
        EXPECT_EQ(fragmentMasses[e.index], e.mass);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(fragmentPositions[e.index][k], e.position[k]);
        }
    }
    // Fragment 0 starts at the corner (-1, -1, -1).
    const float firstPoint[3] = {-0.198839f, -0.174095f, -0.496414f};
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(fragmentPoints[k], firstPoint[k], 5e-7f);
        EXPECT_EQ(fragmentPositions[0][k] + fragmentPoints[k], -1.0f);
    }
}

TEST_F(FragmentTables, EightTo36PointsPerFragment1790InAll)
{
    std::uint32_t total = 0, fewest = 1000, most = 0;
    for (int f = 0; f < kFragmentCount; ++f) {
        fewest = std::min(fewest, fragmentPointCounts[f]);
        most = std::max(most, fragmentPointCounts[f]);
        total += fragmentPointCounts[f];
    }
    EXPECT_EQ(fewest, 8u);
    EXPECT_EQ(most, 36u);
    EXPECT_EQ(total, 1790u);
    EXPECT_EQ(fragmentPointTotal, 1790u);
}

TEST_F(FragmentTables, MassesRunFromTheLightestToTheHeaviestAndSumToEight)
{
    double sum = 0.0;
    float lightest = 1.0f, heaviest = 0.0f;
    for (int f = 0; f < kFragmentCount; ++f) {
        lightest = std::min(lightest, fragmentMasses[f]);
        heaviest = std::max(heaviest, fragmentMasses[f]);
        sum += fragmentMasses[f];
        // Density stays near the cube's 1: a heavy sliver or a light block
        // would make the pile behave oddly.
        const double density = fragmentMasses[f] / (*geometries_)[static_cast<std::size_t>(f)].volume;
        EXPECT_GT(density, 0.5) << "fragment " << f;
        EXPECT_LT(density, 2.0) << "fragment " << f;
    }
    EXPECT_NEAR(lightest, 0.036032f, 5e-7f);
    EXPECT_NEAR(heaviest, 0.150904f, 5e-7f);
    EXPECT_NEAR(sum, 8.0, 1e-6);
}

TEST_F(FragmentTables, PositionsLieInsideTheirFragmentsWithin092)
{
    float reach = 0.0f;
    for (int f = 0; f < kFragmentCount; ++f) {
        const btVector3 position(fragmentPositions[f][0], fragmentPositions[f][1], fragmentPositions[f][2]);
        for (const auto& [normal, offset] : (*geometries_)[static_cast<std::size_t>(f)].planes) {
            EXPECT_LT(normal.dot(position) - offset, 1e-6f) << "fragment " << f;
        }
        for (int k = 0; k < 3; ++k) {
            reach = std::max(reach, std::fabs(fragmentPositions[f][k]));
        }
    }
    EXPECT_EQ(reach, 0.92f);
}

TEST_F(FragmentTables, PointsCoverTheCubeCornerToCorner)
{
    std::set<std::vector<int>> cornersFound;
    float low[3] = {10, 10, 10}, high[3] = {-10, -10, -10};
    const float* run = fragmentPoints;
    for (int f = 0; f < kFragmentCount; ++f) {
        for (std::uint32_t p = 0; p < fragmentPointCounts[f]; ++p, run += 3) {
            std::vector<int> corner;
            for (int k = 0; k < 3; ++k) {
                const float value = fragmentPositions[f][k] + run[k];
                low[k] = std::min(low[k], value);
                high[k] = std::max(high[k], value);
                if (std::fabs(std::fabs(value) - 1.0f) < 1e-6f) {
                    corner.push_back(value > 0 ? 1 : -1);
                }
            }
            if (corner.size() == 3) {
                cornersFound.insert(corner);
            }
        }
    }
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(low[k], -1.0f, 1e-6f);
        EXPECT_NEAR(high[k], 1.0f, 1e-6f);
    }
    EXPECT_EQ(cornersFound.size(), 8u);
}

TEST_F(FragmentTables, FragmentsFillTheCubeWithoutOverlap)
{
    // Points of a fixed lattice strictly inside the cube, offset so that
    // none lies on a cell boundary by construction: each must lie in
    // exactly one fragment (allowing 1e-4 of slack at the faces).
    int ambiguous = 0;
    for (int i = 0; i < 12; ++i) {
        for (int j = 0; j < 12; ++j) {
            for (int k = 0; k < 12; ++k) {
                const btVector3 p(-0.953f + 0.1637f * i, -0.947f + 0.1641f * j, -0.959f + 0.1633f * k);
                int inside = 0, near = 0;
                for (const HullGeometry& g : *geometries_) {
                    float worst = -1e9f;
                    for (const auto& [normal, offset] : g.planes) {
                        worst = std::max(worst, normal.dot(p) - offset);
                    }
                    inside += worst < -1e-4f ? 1 : 0;
                    near += std::fabs(worst) <= 1e-4f ? 1 : 0;
                }
                if (near == 0) {
                    EXPECT_EQ(inside, 1) << "point " << i << " " << j << " " << k;
                } else {
                    ++ambiguous;
                }
            }
        }
    }
    EXPECT_LT(ambiguous, 20);
}

// ---------------------------------------------------------------- terrain

constexpr float kSpacing = 3.90625f;

struct TerrainExpectation {
    std::uint32_t vertices, indices;
    int columns, rows; // samples along x and z
    float xFrom, xTo, zFrom, zTo, heightFrom, heightTo;
};

const TerrainExpectation kTerrain[kTerrainPartCount] = {
    {2048, 11718, 64, 32, 3.90625f, 250, 128.90625f, 250, 0.45f, 45.09f},
    {1980, 11310, 66, 30, -250, 3.90625f, 3.90625f, 117.1875f, -6.73f, 52.62f},
    {2048, 11718, 64, 32, 3.90625f, 250, -117.1875f, 3.90625f, -5.16f, 62.11f},
    {2112, 12096, 64, 33, 3.90625f, 250, 3.90625f, 128.90625f, 8.44f, 55.57f},
    {2244, 12870, 66, 34, -250, 3.90625f, -125, 3.90625f, -0.99f, 62.11f},
    {2310, 13260, 66, 35, -250, 3.90625f, 117.1875f, 250, -5.02f, 37.35f},
    {2240, 12852, 64, 35, 3.90625f, 250, -250, -117.1875f, -21.81f, 50.47f},
    {2178, 12480, 66, 33, -250, 3.90625f, -250, -125, -1.21f, 50.47f},
};

// Grid coordinates of a terrain vertex on the whole square, 0..128.
std::pair<int, int> cellOf(const float* vertex)
{
    const float gx = (vertex[0] + 250.0f) / kSpacing;
    const float gz = (vertex[2] + 250.0f) / kSpacing;
    return {static_cast<int>(std::lround(gx)), static_cast<int>(std::lround(gz))};
}

TEST(TerrainTables, PartsHaveTheirCountsRangesAndGrids)
{
    for (int p = 0; p < kTerrainPartCount; ++p) {
        const TerrainExpectation& e = kTerrain[p];
        SCOPED_TRACE("part " + std::to_string(p));
        ASSERT_EQ(terrainVertexCounts[p], e.vertices);
        ASSERT_EQ(terrainIndexCounts[p], e.indices);
        ASSERT_EQ(e.vertices, static_cast<std::uint32_t>(e.columns * e.rows));
        ASSERT_EQ(e.indices, static_cast<std::uint32_t>(6 * (e.columns - 1) * (e.rows - 1)));

        float xMin = 1e9f, xMax = -1e9f, zMin = 1e9f, zMax = -1e9f, hMin = 1e9f, hMax = -1e9f;
        std::set<std::pair<int, int>> samples;
        for (std::uint32_t v = 0; v < e.vertices; ++v) {
            const float* vertex = terrainVertices[p] + 3 * v;
            xMin = std::min(xMin, vertex[0]);
            xMax = std::max(xMax, vertex[0]);
            zMin = std::min(zMin, vertex[2]);
            zMax = std::max(zMax, vertex[2]);
            hMin = std::min(hMin, vertex[1]);
            hMax = std::max(hMax, vertex[1]);
            // Every sample sits exactly on the 250/64 lattice.
            const auto [gx, gz] = cellOf(vertex);
            EXPECT_EQ(vertex[0], -250.0f + kSpacing * static_cast<float>(gx));
            EXPECT_EQ(vertex[2], -250.0f + kSpacing * static_cast<float>(gz));
            samples.insert({gx, gz});
        }
        EXPECT_EQ(samples.size(), e.vertices); // each grid sample once
        EXPECT_EQ(xMin, e.xFrom);
        EXPECT_EQ(xMax, e.xTo);
        EXPECT_EQ(zMin, e.zFrom);
        EXPECT_EQ(zMax, e.zTo);
        EXPECT_NEAR(hMin, e.heightFrom, 0.005f);
        EXPECT_NEAR(hMax, e.heightTo, 0.005f);
    }
}

TEST(TerrainTables, IndexListsStartAsAStripAndCoverEveryCellWithTwoTriangles)
{
    const std::vector<std::uint16_t> start = {0, 1, 2, 3, 2, 1, 2, 3, 4, 5, 4, 3};
    for (int p = 0; p < kTerrainPartCount; ++p) {
        SCOPED_TRACE("part " + std::to_string(p));
        const std::uint16_t* indices = terrainIndices[p];
        EXPECT_EQ(std::vector<std::uint16_t>(indices, indices + start.size()), start);

        std::map<std::pair<int, int>, std::set<std::pair<int, int>>> cornersByCell;
        std::map<std::pair<int, int>, int> trianglesByCell;
        for (std::uint32_t t = 0; t < terrainIndexCounts[p] / 3; ++t) {
            std::set<std::pair<int, int>> corners;
            int lowX = 1 << 20, lowZ = 1 << 20;
            for (int c = 0; c < 3; ++c) {
                const std::uint16_t index = indices[3 * t + static_cast<std::uint32_t>(c)];
                ASSERT_LT(index, terrainVertexCounts[p]);
                const auto grid = cellOf(terrainVertices[p] + 3 * index);
                corners.insert(grid);
                lowX = std::min(lowX, grid.first);
                lowZ = std::min(lowZ, grid.second);
            }
            ASSERT_EQ(corners.size(), 3u) << "triangle " << t;
            for (const auto& [gx, gz] : corners) {
                ASSERT_TRUE(gx - lowX <= 1 && gz - lowZ <= 1) << "triangle " << t << " spans more than a cell";
            }
            ++trianglesByCell[{lowX, lowZ}];
            cornersByCell[{lowX, lowZ}].insert(corners.begin(), corners.end());
        }
        const TerrainExpectation& e = kTerrain[p];
        EXPECT_EQ(trianglesByCell.size(), static_cast<std::size_t>((e.columns - 1) * (e.rows - 1)));
        for (const auto& [cell, count] : trianglesByCell) {
            EXPECT_EQ(count, 2);
            EXPECT_EQ(cornersByCell[cell].size(), 4u);
        }
    }
}

TEST(TerrainTables, PartsTileTheSquareAndAgreeOnSharedRows)
{
    constexpr int kSamples = 129; // -250 to 250 in steps of 250/64
    std::map<std::pair<int, int>, float> heights;
    int shared = 0;
    std::vector<int> cellCover(static_cast<std::size_t>((kSamples - 1) * (kSamples - 1)), 0);
    for (int p = 0; p < kTerrainPartCount; ++p) {
        int lowX = kSamples, lowZ = kSamples;
        for (std::uint32_t v = 0; v < terrainVertexCounts[p]; ++v) {
            const float* vertex = terrainVertices[p] + 3 * v;
            const auto grid = cellOf(vertex);
            lowX = std::min(lowX, grid.first);
            lowZ = std::min(lowZ, grid.second);
            const auto [it, inserted] = heights.emplace(grid, vertex[1]);
            if (!inserted) {
                ++shared;
                EXPECT_EQ(it->second, vertex[1]) << "part " << p << " at " << grid.first << ", " << grid.second;
            }
        }
        for (int i = 0; i < kTerrain[p].columns - 1; ++i) {
            for (int j = 0; j < kTerrain[p].rows - 1; ++j) {
                ++cellCover[static_cast<std::size_t>((lowX + i) * (kSamples - 1) + lowZ + j)];
            }
        }
    }
    EXPECT_EQ(heights.size(), static_cast<std::size_t>(kSamples * kSamples));
    EXPECT_GT(shared, 0);
    for (std::size_t c = 0; c < cellCover.size(); ++c) {
        ASSERT_EQ(cellCover[c], 1) << "cell " << c;
    }
}

} // namespace
