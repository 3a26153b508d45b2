#include "benchmark_demo.h"

#include "gui_helper.h"
#include "rag_doll.h"
#include "raycast_bar.h"

const std::int32_t boxCountX = 10;
const std::int32_t boxCountZ = 10;
const std::int32_t boxLayers = 40;
const std::int32_t gravityChoice = 1;
const std::int32_t frictionChoice = 1;
const float gravityTable[3] = {-1.6f, -9.8f, -24.8f};
const float frictionTable[3] = {0.05f, 0.5f, 1.3f};
const std::int32_t totalBoxCount = boxCountX * boxCountZ * boxLayers;

btRaycastBar2 rayBatch;

namespace {

// Every figure below is a float: the scene is specified in single precision
// and the world receives exactly these values whatever btScalar is.
constexpr float kFixedSubstep = 1.0f / 60.0f;
constexpr float kWorldHalfSize = 1000.0f;
constexpr float kGroundHalfExtentXZ = 250.0f;
constexpr float kGroundHalfHeight = 50.0f; // top face at y = 0
constexpr float kBoxHalfExtent = 1.0f;
constexpr float kBoxMass = 2.0f;
constexpr float kBoxSpacing = 3.0f;     // 2-unit cubes with 1 unit of gap
constexpr float kFirstLayerY = 2.0f;    // underside 1 unit above the ground
constexpr double kLayerShift = 0.2;     // each layer moves +0.2 in x and z
// The solver's friction-direction caching, added to the library's default
// mode bits, and 5 iterations per substep instead of the library's 10.
constexpr int kSolverModeExtra = SOLVER_ENABLE_FRICTION_DIRECTION_CACHING;
constexpr int kSolverIterations = 5;

} // namespace

BenchmarkDemo::BenchmarkDemo(GuiHelper* helper, std::int32_t option)
    : CommonRigidBodyBase(helper), sceneOption(option)
{
}

BenchmarkDemo::~BenchmarkDemo()
{
    endWorld();
}

void BenchmarkDemo::tearDownWorld()
{
    endWorld();
}

void BenchmarkDemo::endWorld()
{
    // A pick may hold a ragdoll's body: end it while the figure, and so the
    // body, still exists. (The base teardown would end it only after the
    // figures are gone.)
    removePickingConstraint();
    deleteRagDolls();
    // Deleted after the broadphase that uses it.
    btOverlappingPairCache* pairCache = broadphasePairCache;
    broadphasePairCache = nullptr;
    CommonRigidBodyBase::tearDownWorld();
    delete pairCache;
    // The mesh shapes that read them were deleted with the world.
    for (int i = 0; i < terrainMeshes.size(); ++i) {
        delete terrainMeshes[i];
    }
    terrainMeshes.clear();
}

void BenchmarkDemo::deleteRagDolls()
{
    for (int i = 0; i < ragDolls.size(); ++i) {
        delete ragDolls[i];
    }
    ragDolls.clear();
}

void BenchmarkDemo::updateGraphics() {}

void BenchmarkDemo::buildWorld()
{
    if (guiHelper != nullptr) {
        guiHelper->onBuildStart(1);
    }

    buildDefaultWorld();
    // The default world only stands in until the benchmark's own parts
    // replace it.
    deleteWorldParts();

    // Pools sized for ten manifolds and ten collision algorithms per box.
    btDefaultCollisionConstructionInfo info;
    info.m_persistentManifoldPool = nullptr;
    info.m_collisionAlgorithmPool = nullptr;
    info.m_defaultMaxPersistentManifoldPoolSize = totalBoxCount * 10;
    info.m_defaultMaxCollisionAlgorithmPoolSize = totalBoxCount * 10;
    info.m_customCollisionAlgorithmMaxElementSize = 0;
    info.m_useEpaPenetrationAlgorithm = 1;
    collisionConfiguration = new btDefaultCollisionConfiguration(info);
    dispatcher = new btCollisionDispatcher(collisionConfiguration);

    // Room for every box plus 128 further handles.
    const btVector3 worldMin(-kWorldHalfSize, -kWorldHalfSize, -kWorldHalfSize);
    const btVector3 worldMax(kWorldHalfSize, kWorldHalfSize, kWorldHalfSize);
    const auto maxHandles = static_cast<unsigned short>(totalBoxCount + 128);
    // The broadphase does not own this cache: the scene deletes it after the
    // broadphase (endWorld), or each instance would leak it and every pair
    // it ever held.
    broadphasePairCache = new btHashedOverlappingPairCache();
    broadphase = new btAxisSweep3(worldMin, worldMax, maxHandles, broadphasePairCache, false);

    solver = new btSequentialImpulseConstraintSolver();
    dynamicsWorld = new btDiscreteDynamicsWorld(dispatcher, broadphase, solver, collisionConfiguration);
    dynamicsWorld->getSolverInfo().m_solverMode |= kSolverModeExtra;
    dynamicsWorld->getSolverInfo().m_numIterations = kSolverIterations;

    if (guiHelper != nullptr) {
        guiHelper->onWorldCreated(dynamicsWorld);
    }

    dynamicsWorld->setGravity(btVector3(0.0f, gravityTable[gravityChoice], 0.0f));

    if (sceneOption <= 4) {
        btBoxShape* groundShape =
            new btBoxShape(btVector3(kGroundHalfExtentXZ, kGroundHalfHeight, kGroundHalfExtentXZ));
        collisionShapes.push_back(groundShape);
        btTransform groundTransform;
        groundTransform.setIdentity();
        groundTransform.setOrigin(btVector3(0.0f, -kGroundHalfHeight, 0.0f));
        btDefaultMotionState* motionState = new btDefaultMotionState(groundTransform);
        btRigidBody::btRigidBodyConstructionInfo groundInfo(0.0f, motionState, groundShape,
                                                            btVector3(0.0f, 0.0f, 0.0f));
        dynamicsWorld->addRigidBody(new btRigidBody(groundInfo));
    }

    switch (sceneOption) {
    case 1:
        buildBoxGrid();
        break;
    case 2:
        buildStackScene();
        break;
    case 3:
        buildRagDollScene();
        break;
    case 4:
        buildConvexHullStacks();
        break;
    case 5:
        buildRandomShapes();
        break;
    case 6:
        buildMeshScene();
        break;
    case 7:
        buildMeshScene();
        setupRayBatch();
        break;
    case 8:
        buildPointCloudHulls();
        break;
    default:
        break;
    }

    if (guiHelper != nullptr) {
        guiHelper->onSceneBuilt(dynamicsWorld);
    }
}

void BenchmarkDemo::buildBoxGrid()
{
    btBoxShape* boxShape = new btBoxShape(btVector3(kBoxHalfExtent, kBoxHalfExtent, kBoxHalfExtent));
    collisionShapes.push_back(boxShape);

    if (boxLayers < 1) {
        return;
    }
    const float layerStep = boxLayers > 5 ? 3.0f : 7.0f;
    float startX = static_cast<float>(-boxCountZ) * 3.0f * 0.5f;
    float startZ = static_cast<float>(-boxCountX) * 3.0f * 0.5f;
    float y = kFirstLayerY;

    btTransform transform;
    transform.setIdentity();
    for (std::int32_t layer = 0; layer < boxLayers; ++layer) {
        for (std::int32_t j = 0; j < boxCountX; ++j) {
            const float z = startZ + kBoxSpacing * static_cast<float>(j);
            for (std::int32_t i = 0; i < boxCountZ; ++i) {
                const float x = startX + kBoxSpacing * static_cast<float>(i);
                transform.setOrigin(btVector3(x, y, z));
                btRigidBody* body = spawnRigidBody(kBoxMass, transform, boxShape);
                body->setFriction(frictionTable[frictionChoice]);
            }
        }
        // The shift is added in double and rounded back to float each layer,
        // so layer 39 starts at -7.200007, not -7.2.
        startX = static_cast<float>(static_cast<double>(startX) + kLayerShift);
        startZ = static_cast<float>(static_cast<double>(startZ) + kLayerShift);
        y = y + layerStep;
    }
}

void BenchmarkDemo::stepFrame(float deltaTime)
{
    if (dynamicsWorld != nullptr) {
        dynamicsWorld->stepSimulation(deltaTime, 1, kFixedSubstep);
    }
    if (sceneOption == 7 && dynamicsWorld != nullptr) {
        rayBatch.castRayBatch(dynamicsWorld, false);
        rayBatch.drawRayBatch();
    }
}

CommonExampleInterface* createBenchmarkDemo(const DemoOptions& options)
{
    return new BenchmarkDemo(options.guiHelper, options.option);
}
