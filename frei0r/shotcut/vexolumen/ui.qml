// Controls for the frei0r filter. Angles are shown as the plug-in's slider
// values, -100..100 (100 is a half turn), which the filter takes as 0..1;
// the rectangle's edges are shown in percent of the frame.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import Shotcut.Controls 1.0 as Shotcut

Item {
    // The filter's own defaults (the "tint" preset).
    property var angleParams: ['red_angle', 'green_angle', 'blue_angle']
    property var angleDefaults: [12, -10, 8]
    property string offsetDefault: '#808080'
    property var methods: ['clamp', 'wrap', 'reflect']
    property var edgeParams: ['left', 'right', 'top', 'bottom']
    property var edgeDefaults: [0, 100, 0, 100]
    property var defaultParameters: angleParams.concat(['offset', 'method']).concat(edgeParams)

    function load() {
        redSlider.value = filter.getDouble('red_angle') * 200 - 100;
        greenSlider.value = filter.getDouble('green_angle') * 200 - 100;
        blueSlider.value = filter.getDouble('blue_angle') * 200 - 100;
        offsetPicker.value = filter.get('offset');
        methodCombo.currentIndex = Math.max(0, methods.indexOf(filter.get('method')));
        leftSlider.value = filter.getDouble('left') * 100;
        rightSlider.value = filter.getDouble('right') * 100;
        topSlider.value = filter.getDouble('top') * 100;
        bottomSlider.value = filter.getDouble('bottom') * 100;
    }

    width: 350
    height: 330
    Component.onCompleted: {
        presetItem.parameters = defaultParameters;
        if (filter.isNew) {
            for (var i = 0; i < 3; i++)
                filter.set(angleParams[i], (angleDefaults[i] + 100) / 200);
            filter.set('offset', offsetDefault);
            filter.set('method', methods[0]);
            for (var j = 0; j < 4; j++)
                filter.set(edgeParams[j], edgeDefaults[j] / 100);
            filter.savePreset(defaultParameters);
        }
        load();
    }

    GridLayout {
        columns: 3
        anchors.fill: parent
        anchors.margins: 8

        Label {
            text: qsTr('Preset')
            Layout.alignment: Qt.AlignRight
        }
        Shotcut.Preset {
            id: presetItem
            Layout.columnSpan: 2
            onPresetSelected: load()
        }

        Label {
            text: qsTr('Turn about red')
            Layout.alignment: Qt.AlignRight
        }
        Shotcut.SliderSpinner {
            id: redSlider
            minimumValue: -100
            maximumValue: 100
            onValueChanged: filter.set('red_angle', (Math.round(value) + 100) / 200)
        }
        Shotcut.UndoButton {
            onClicked: redSlider.value = angleDefaults[0]
        }

        Label {
            text: qsTr('Turn about green')
            Layout.alignment: Qt.AlignRight
        }
        Shotcut.SliderSpinner {
            id: greenSlider
            minimumValue: -100
            maximumValue: 100
            onValueChanged: filter.set('green_angle', (Math.round(value) + 100) / 200)
        }
        Shotcut.UndoButton {
            onClicked: greenSlider.value = angleDefaults[1]
        }

        Label {
            text: qsTr('Turn about blue')
            Layout.alignment: Qt.AlignRight
        }
        Shotcut.SliderSpinner {
            id: blueSlider
            minimumValue: -100
            maximumValue: 100
            onValueChanged: filter.set('blue_angle', (Math.round(value) + 100) / 200)
        }
        Shotcut.UndoButton {
            onClicked: blueSlider.value = angleDefaults[2]
        }

        Label {
            text: qsTr('Offset colour')
            Layout.alignment: Qt.AlignRight
        }
        Shotcut.ColorPicker {
            id: offsetPicker
            onValueChanged: filter.set('offset', value)
        }
        Shotcut.UndoButton {
            onClicked: offsetPicker.value = offsetDefault
        }

        Label {
            text: qsTr('Out of range')
            Layout.alignment: Qt.AlignRight
        }
        Shotcut.ComboBox {
            id: methodCombo
            model: [qsTr('Clamp'), qsTr('Wrap'), qsTr('Reflect')]
            onActivated: filter.set('method', methods[currentIndex])
        }
        Shotcut.UndoButton {
            onClicked: {
                methodCombo.currentIndex = 0;
                filter.set('method', methods[0]);
            }
        }

        Label {
            text: qsTr('Left')
            Layout.alignment: Qt.AlignRight
        }
        Shotcut.SliderSpinner {
            id: leftSlider
            minimumValue: 0
            maximumValue: 100
            decimals: 1
            suffix: ' %'
            onValueChanged: filter.set('left', value / 100)
        }
        Shotcut.UndoButton {
            onClicked: leftSlider.value = edgeDefaults[0]
        }

        Label {
            text: qsTr('Right')
            Layout.alignment: Qt.AlignRight
        }
        Shotcut.SliderSpinner {
            id: rightSlider
            minimumValue: 0
            maximumValue: 100
            decimals: 1
            suffix: ' %'
            onValueChanged: filter.set('right', value / 100)
        }
        Shotcut.UndoButton {
            onClicked: rightSlider.value = edgeDefaults[1]
        }

        Label {
            text: qsTr('Top')
            Layout.alignment: Qt.AlignRight
        }
        Shotcut.SliderSpinner {
            id: topSlider
            minimumValue: 0
            maximumValue: 100
            decimals: 1
            suffix: ' %'
            onValueChanged: filter.set('top', value / 100)
        }
        Shotcut.UndoButton {
            onClicked: topSlider.value = edgeDefaults[2]
        }

        Label {
            text: qsTr('Bottom')
            Layout.alignment: Qt.AlignRight
        }
        Shotcut.SliderSpinner {
            id: bottomSlider
            minimumValue: 0
            maximumValue: 100
            decimals: 1
            suffix: ' %'
            onValueChanged: filter.set('bottom', value / 100)
        }
        Shotcut.UndoButton {
            onClicked: bottomSlider.value = edgeDefaults[3]
        }

        Item {
            Layout.fillHeight: true
        }
    }
}
