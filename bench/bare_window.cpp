// quendra-bench-bare: the floor the panel's start-up is measured against. A
// plain Qt window of the panel's size holding the panel's fifteen editable
// lists, filled as any Qt program would fill them and placed where the panel
// has them; nothing else: no form, no menu, no picture, no font, no settings,
// no port. quendra-bench starts it alternately with the panel.
#include <QApplication>
#include <QComboBox>
#include <QMainWindow>
#include <QStringList>

namespace {

QStringList numberTexts(int count, int base, int width)
{
    QStringList texts;
    texts.reserve(count);
    for (int i = 0; i < count; ++i)
        texts.append(QStringLiteral("%1").arg(i, width, base, QLatin1Char('0')).toUpper());
    return texts;
}

struct Place
{
    int x, y, width;
};

// Where the panel's lists sit in its client area: twelve byte lists, the
// decimal points, the two UIDs.
constexpr Place ByteLists[] = {{32, 120, 49},  {88, 120, 49},  {144, 120, 49}, {200, 120, 49},
                               {32, 216, 49},  {88, 216, 49},  {160, 360, 49}, {216, 360, 49},
                               {272, 360, 49}, {328, 360, 49}, {384, 360, 49}, {440, 360, 49}};
constexpr Place DecimalPoints{288, 224, 41};
constexpr Place Uids[] = {{464, 96, 65}, {440, 152, 65}};

void addList(QWidget* parent, const Place& place, const QStringList& items)
{
    auto* list = new QComboBox(parent);
    list->setEditable(true);
    list->setGeometry(place.x, place.y, place.width, 21);
    list->addItems(items);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    auto* client = new QWidget(&window);
    const QStringList bytes = numberTexts(256, 16, 2);
    for (const Place& place : ByteLists)
        addList(client, place, bytes);
    addList(client, DecimalPoints, numberTexts(64, 10, 1));
    const QStringList uids = numberTexts(256, 10, 1);
    for (const Place& place : Uids)
        addList(client, place, uids);
    window.setCentralWidget(client);
    // The panel's outer size: its client area and a menu bar's height.
    window.setFixedSize(639, 480);
    window.show();
    return QApplication::exec();
}
