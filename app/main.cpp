#include "app/download_app.h"
#include "support/data_location.h"
#include "support/file_platform.h"

int main(int argc, char* argv[]) {
    // A closed standard stream must not be taken over by the log or a document.
    platform::EnsureStandardStreams();
    CDownLoadApp app;
    return app.InitInstance(argv[0], DataFolderArgument(argc, argv));
}
