#include "Form1.h"

#include <QApplication>
#include <QFont>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KivuUpdate"));
    QApplication::setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 9));

    Form1 form1;
    form1.show();
    return app.exec();
}
