// Pelorin: plays a video and shows each frame as the TVC computer would in one of its graphics
// modes. One window; closing it ends the program.
#include "form1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    pelorin::window::ApplyFormStyle();
    pelorin::window::Form1 form;
    if (!form.Load())
        return 1;
    form.show();
    return application.exec();
}
