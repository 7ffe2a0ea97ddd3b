// Shotcut's entry for the frei0r filter; the controls are in ui.qml.
import QtQuick 2.0
import org.shotcut.qml 1.0

Metadata {
    type: Metadata.Filter
    name: qsTr("Vexolumen Colour Rotation")
    keywords: qsTr('colour color rotate turn hue wrap reflect', 'search keywords for the Vexolumen video filter') + ' vexolumen'
    mlt_service: 'frei0r.vexolumen'
    qml: 'ui.qml'
}
