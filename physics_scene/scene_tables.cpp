#include "scene_tables.h"

namespace {

// The barrel's three rings: bottom and top with radius 1.08664 at y = -+1.99237,
// the middle ring with radius 1.82224 at y = 0. A ring point at angle a
// (from +x towards -z) is (r cos a, y, -r sin a); d is r cos 45 degrees.
constexpr float kCapY = 1.99237f;
constexpr float kCapR = 1.08664f;
constexpr float kCapD = 0.768369f;
constexpr float kMidR = 1.82224f;
constexpr float kMidD = 1.28852f;

} // namespace

// Ring and angle of each entry are given in the comments (B bottom, M
// middle, T top; degrees).
const float hullPointTable[kHullPointCount][3] = {
    {kCapR, -kCapY, 0.0f},     // B0
    {kCapD, -kCapY, -kCapD},   // B45
    {kMidD, 0.0f, -kMidD},     // M45
    {kMidR, 0.0f, 0.0f},       // M0
    {0.0f, -kCapY, -kCapR},    // B90
    {0.0f, 0.0f, -kMidR},      // M90
    {0.0f, -kCapY, -kCapR},    // B90
    {-kCapD, -kCapY, -kCapD},  // B135
    {-kMidD, 0.0f, -kMidD},    // M135
    {0.0f, 0.0f, -kMidR},      // M90
    {-kCapR, -kCapY, 0.0f},    // B180
    {-kMidR, 0.0f, 0.0f},      // M180
    {-kCapD, -kCapY, kCapD},   // B225
    {-kMidD, 0.0f, kMidD},     // M225
    {0.0f, -kCapY, kCapR},     // B270
    {0.0f, 0.0f, kMidR},       // M270
    {kCapD, -kCapY, kCapD},    // B315
    {kMidD, 0.0f, kMidD},      // M315
    {kCapD, kCapY, -kCapD},    // T45
    {kCapR, kCapY, 0.0f},      // T0
    {0.0f, kCapY, -kCapR},     // T90
    {-kCapD, kCapY, -kCapD},   // T135
    {0.0f, kCapY, -kCapR},     // T90
    {-kCapR, kCapY, 0.0f},     // T180
    {-kCapD, kCapY, kCapD},    // T225
    {0.0f, kCapY, kCapR},      // T270
    {kCapD, kCapY, kCapD},     // T315
    {0.0f, -kCapY, kCapR},     // B270
    {-kCapD, -kCapY, kCapD},   // B225
    {-kCapR, -kCapY, 0.0f},    // B180
    {-kCapD, -kCapY, -kCapD},  // B135
    {0.0f, -kCapY, -kCapR},    // B90
    {kCapD, -kCapY, -kCapD},   // B45
    {kCapR, -kCapY, 0.0f},     // B0
    {kCapD, -kCapY, kCapD},    // B315
    {kCapD, kCapY, -kCapD},    // T45
    {0.0f, kCapY, -kCapR},     // T90
    {-kCapD, kCapY, -kCapD},   // T135
    {-kCapR, kCapY, 0.0f},     // T180
    {-kCapD, kCapY, kCapD},    // T225
    {0.0f, kCapY, kCapR},      // T270
    {kCapD, kCapY, kCapD},     // T315
    {kCapR, kCapY, 0.0f},      // T0
};
