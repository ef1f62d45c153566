#include "ui/program_icon.h"

// Resources compiled into a static library are dropped by the linker unless something names
// them: this does, wherever the icon is used.
static int LoadIconResources() {
    Q_INIT_RESOURCE(icons);
    return 0;
}

QIcon ProgramIcon() {
    static const int loaded = LoadIconResources();
    (void)loaded;
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/novu-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}
