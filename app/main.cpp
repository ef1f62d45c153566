#include "app/download_app.h"

int main(int /*argc*/, char* argv[]) {
    CDownLoadApp app;
    return app.InitInstance(argv[0]);
}
