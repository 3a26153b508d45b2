#include "velocitrix_app.h"

int main(int argc, char** argv) {
    VelocitrixApp app(argc, argv);
    return app.run();
}
