// Written by `lumatrail params --shotcut-ui` (`make docs`) from the effect's parameter table.
// Sliders show units; each property holds the frei0r value, the shown value / its scale.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import Shotcut.Controls 1.0 as Shotcut

Shotcut.KeyframableFilter {
    // Sliders: their properties (frei0r parameters), units per frei0r 1.0 and defaults as
    // frei0r values; then the popups' and checkboxes' properties and defaults.
    property var sliderParameters: ['Lower Brightness (%)', 'Upper Brightness (%)', 'Streak Length (px)', 'Length Variation (%)', 'Random Seed', 'Amount (%)', 'Sweep Position (%)', 'Band Width (%)', 'Edge Feather (%)', 'Stretch Tip Feather (%)', 'Emitter Spacing (px)', 'Stream Size (px)', 'Lifespan (sec)', 'Launch Speed (px/sec)', 'Trail Length (sec)', 'Particle Count', 'Birth Size (%)', 'End Size (%)', 'Growth Curve', 'Stream Opacity (%)', 'Launch Spread (deg)', 'Center X (%)', 'Center Y (%)', 'Attractor Strength', 'Repeller X (%)', 'Repeller Y (%)', 'Repeller Strength', 'Force Radius (px)', 'Wind Direction (deg)', 'Wind Strength', 'Random Force', 'Random Scale (px)', 'Random Evolution', 'Drag']
    property var sliderScales: [100, 100, 2000, 100, 1000, 100, 100, 100, 100, 100, 64, 24, 6, 1000, 6, 4000, 100, 100, 4, 100, 360, 100, 100, 1500, 100, 100, 1500, 2000, 360, 1500, 1500, 600, 3, 5]
    property var sliderDefaults: [0.08, 1, 0.32, 0.35, 0.042, 1, 0.5, 0.3, 0.5, 0.15, 0.1875, 0.125, 0.41666667, 0.26, 0.2, 0.375, 1, 0, 0.25, 0.85, 0, 0.5, 0.5, 0, 0.5, 0.5, 0, 0.3, 0, 0, 0, 0.3, 0.11666666, 0.04]
    property var sliders: [lowerBrightnessSlider, upperBrightnessSlider, streakLengthPxSlider, lengthVariationSlider, randomSeedSlider, amountSlider, sweepPositionSlider, bandWidthSlider, edgeFeatherSlider, stretchTipFeatherSlider, emitterSpacingPxSlider, streamSizePxSlider, lifespanSecSlider, launchSpeedPxSecSlider, trailLengthSecSlider, particleCountSlider, birthSizeSlider, endSizeSlider, growthCurveSlider, streamOpacitySlider, launchSpreadDegSlider, centerXSlider, centerYSlider, attractorStrengthSlider, repellerXSlider, repellerYSlider, repellerStrengthSlider, forceRadiusPxSlider, windDirectionDegSlider, windStrengthSlider, randomForceSlider, randomScalePxSlider, randomEvolutionSlider, dragSlider]
    property var keyframesButtons: [lowerBrightnessKeyframes, upperBrightnessKeyframes, streakLengthPxKeyframes, lengthVariationKeyframes, randomSeedKeyframes, amountKeyframes, sweepPositionKeyframes, bandWidthKeyframes, edgeFeatherKeyframes, stretchTipFeatherKeyframes, emitterSpacingPxKeyframes, streamSizePxKeyframes, lifespanSecKeyframes, launchSpeedPxSecKeyframes, trailLengthSecKeyframes, particleCountKeyframes, birthSizeKeyframes, endSizeKeyframes, growthCurveKeyframes, streamOpacityKeyframes, launchSpreadDegKeyframes, centerXKeyframes, centerYKeyframes, attractorStrengthKeyframes, repellerXKeyframes, repellerYKeyframes, repellerStrengthKeyframes, forceRadiusPxKeyframes, windDirectionDegKeyframes, windStrengthKeyframes, randomForceKeyframes, randomScalePxKeyframes, randomEvolutionKeyframes, dragKeyframes]
    property var comboParameters: ['Render Mode', 'Direction', 'Sweep Mode', 'Sweep Direction', 'Composite']
    property var comboDefaults: ['Classic Lines', 'Horizontal', 'Off', 'Left to Right', 'Over Original']
    property var combos: [renderModeCombo, directionCombo, sweepModeCombo, sweepDirectionCombo, compositeCombo]
    property var checkParameters: ['Reverse Direction', 'Preserve Input Alpha', 'Pre-roll Particles']
    property var checkDefaults: [0, 0, 1]
    property var checks: [reverseDirectionCheck, preserveInputAlphaCheck, preRollParticlesCheck]

    keyframableParameters: ['Lower Brightness (%)', 'Upper Brightness (%)', 'Streak Length (px)', 'Length Variation (%)', 'Random Seed', 'Amount (%)', 'Sweep Position (%)', 'Band Width (%)', 'Edge Feather (%)', 'Stretch Tip Feather (%)', 'Emitter Spacing (px)', 'Stream Size (px)', 'Lifespan (sec)', 'Launch Speed (px/sec)', 'Trail Length (sec)', 'Particle Count', 'Birth Size (%)', 'End Size (%)', 'Growth Curve', 'Stream Opacity (%)', 'Launch Spread (deg)', 'Center X (%)', 'Center Y (%)', 'Attractor Strength', 'Repeller X (%)', 'Repeller Y (%)', 'Repeller Strength', 'Force Radius (px)', 'Wind Direction (deg)', 'Wind Strength', 'Random Force', 'Random Scale (px)', 'Random Evolution', 'Drag']
    startValues: [0.08, 1, 0.32, 0.35, 0.042, 1, 0.5, 0.3, 0.5, 0.15, 0.1875, 0.125, 0.41666667, 0.26, 0.2, 0.375, 1, 0, 0.25, 0.85, 0, 0.5, 0.5, 0, 0.5, 0.5, 0, 0.3, 0, 0, 0, 0.3, 0.11666666, 0.04]
    middleValues: [0.08, 1, 0.32, 0.35, 0.042, 1, 0.5, 0.3, 0.5, 0.15, 0.1875, 0.125, 0.41666667, 0.26, 0.2, 0.375, 1, 0, 0.25, 0.85, 0, 0.5, 0.5, 0, 0.5, 0.5, 0, 0.3, 0, 0, 0, 0.3, 0.11666666, 0.04]
    endValues: [0.08, 1, 0.32, 0.35, 0.042, 1, 0.5, 0.3, 0.5, 0.15, 0.1875, 0.125, 0.41666667, 0.26, 0.2, 0.375, 1, 0, 0.25, 0.85, 0, 0.5, 0.5, 0, 0.5, 0.5, 0, 0.3, 0, 0, 0, 0.3, 0.11666666, 0.04]

    function setControls() {
        var position = getPosition();
        blockUpdate = true;
        for (var i = 0; i < sliders.length; i++) {
            sliders[i].value = filter.getDouble(sliderParameters[i], position) * sliderScales[i];
            keyframesButtons[i].checked = filter.animateIn <= 0 && filter.animateOut <= 0 && filter.keyframeCount(sliderParameters[i]) > 0;
        }
        for (i = 0; i < combos.length; i++)
            combos[i].currentIndex = Math.max(0, combos[i].find(filter.get(comboParameters[i])));
        for (i = 0; i < checks.length; i++)
            checks[i].checked = filter.getDouble(checkParameters[i]) >= 0.5;
        blockUpdate = false;
        enableControls(isSimpleKeyframesActive());
    }

    function enableControls(enabled) {
        for (var i = 0; i < sliders.length; i++)
            sliders[i].enabled = enabled;
    }

    function updateSimpleKeyframes() {
        setControls();
        for (var i = 0; i < sliders.length; i++)
            updateFilter(sliderParameters[i], sliders[i].value / sliderScales[i], keyframesButtons[i], null);
    }

    width: 420
    height: layout.implicitHeight + 16
    Component.onCompleted: {
        if (filter.isNew) {
            for (var i = 0; i < sliderParameters.length; i++)
                filter.set(sliderParameters[i], sliderDefaults[i]);
            for (i = 0; i < comboParameters.length; i++)
                filter.set(comboParameters[i], comboDefaults[i]);
            for (i = 0; i < checkParameters.length; i++)
                filter.set(checkParameters[i], checkDefaults[i]);
            filter.savePreset(preset.parameters);
        }
        setControls();
    }

    GridLayout {
        id: layout

        anchors.fill: parent
        anchors.margins: 8
        columns: 4

        Label {
            text: qsTr('Preset')
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.Preset {
            id: preset

            parameters: sliderParameters.concat(comboParameters, checkParameters)
            Layout.columnSpan: 3
            onBeforePresetLoaded: resetSimpleKeyframes()
            onPresetSelected: {
                setControls();
                initializeSimpleKeyframes();
            }
        }

        Label {
            text: 'Render Mode'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.ComboBox {
            id: renderModeCombo

            implicitWidth: 180
            model: ['Classic Lines', 'Force Lines', 'Particles']
            onActivated: filter.set('Render Mode', currentText)
        }

        Shotcut.UndoButton {
            onClicked: {
                filter.set('Render Mode', 'Classic Lines');
                renderModeCombo.currentIndex = 0;
            }
        }

        Item {
            width: 1
        }

        Label {
            text: 'Pixels'
            font.bold: true
            Layout.columnSpan: 4
        }

        Label {
            text: 'Direction'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.ComboBox {
            id: directionCombo

            implicitWidth: 180
            model: ['Horizontal', 'Vertical', 'Radial Out', 'Radial In']
            onActivated: filter.set('Direction', currentText)
        }

        Shotcut.UndoButton {
            onClicked: {
                filter.set('Direction', 'Horizontal');
                directionCombo.currentIndex = 0;
            }
        }

        Item {
            width: 1
        }

        Label {
            text: 'Reverse Direction'
            Layout.alignment: Qt.AlignRight
        }

        CheckBox {
            id: reverseDirectionCheck

            onClicked: filter.set('Reverse Direction', checked ? 1 : 0)
        }

        Shotcut.UndoButton {
            onClicked: {
                filter.set('Reverse Direction', 0);
                reverseDirectionCheck.checked = false;
            }
        }

        Item {
            width: 1
        }

        Label {
            text: 'Lower Brightness (%)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: lowerBrightnessSlider

            minimumValue: 0
            maximumValue: 100
            decimals: 2
            suffix: '%'
            onValueChanged: updateFilter('Lower Brightness (%)', value / 100, lowerBrightnessKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: lowerBrightnessSlider.value = 8
        }

        Shotcut.KeyframesButton {
            id: lowerBrightnessKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Lower Brightness (%)', lowerBrightnessSlider.value / 100);
            }
        }

        Label {
            text: 'Upper Brightness (%)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: upperBrightnessSlider

            minimumValue: 0
            maximumValue: 100
            decimals: 2
            suffix: '%'
            onValueChanged: updateFilter('Upper Brightness (%)', value / 100, upperBrightnessKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: upperBrightnessSlider.value = 100
        }

        Shotcut.KeyframesButton {
            id: upperBrightnessKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Upper Brightness (%)', upperBrightnessSlider.value / 100);
            }
        }

        Label {
            text: 'Streak Length (px)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: streakLengthPxSlider

            minimumValue: 1
            maximumValue: 2000
            decimals: 2
            suffix: ' px'
            onValueChanged: updateFilter('Streak Length (px)', value / 2000, streakLengthPxKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: streakLengthPxSlider.value = 640
        }

        Shotcut.KeyframesButton {
            id: streakLengthPxKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Streak Length (px)', streakLengthPxSlider.value / 2000);
            }
        }

        Label {
            text: 'Length Variation (%)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: lengthVariationSlider

            minimumValue: 0
            maximumValue: 100
            decimals: 2
            suffix: '%'
            onValueChanged: updateFilter('Length Variation (%)', value / 100, lengthVariationKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: lengthVariationSlider.value = 35
        }

        Shotcut.KeyframesButton {
            id: lengthVariationKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Length Variation (%)', lengthVariationSlider.value / 100);
            }
        }

        Label {
            text: 'Random Seed'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: randomSeedSlider

            minimumValue: 0
            maximumValue: 1000
            decimals: 0
            suffix: ''
            onValueChanged: updateFilter('Random Seed', value / 1000, randomSeedKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: randomSeedSlider.value = 42
        }

        Shotcut.KeyframesButton {
            id: randomSeedKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Random Seed', randomSeedSlider.value / 1000);
            }
        }

        Label {
            text: 'Amount (%)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: amountSlider

            minimumValue: 0
            maximumValue: 100
            decimals: 2
            suffix: '%'
            onValueChanged: updateFilter('Amount (%)', value / 100, amountKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: amountSlider.value = 100
        }

        Shotcut.KeyframesButton {
            id: amountKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Amount (%)', amountSlider.value / 100);
            }
        }

        Label {
            text: 'Preserve Input Alpha'
            Layout.alignment: Qt.AlignRight
        }

        CheckBox {
            id: preserveInputAlphaCheck

            onClicked: filter.set('Preserve Input Alpha', checked ? 1 : 0)
        }

        Shotcut.UndoButton {
            onClicked: {
                filter.set('Preserve Input Alpha', 0);
                preserveInputAlphaCheck.checked = false;
            }
        }

        Item {
            width: 1
        }

        Label {
            text: 'Animated Sweep'
            font.bold: true
            Layout.columnSpan: 4
        }

        Label {
            text: 'Sweep Mode'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.ComboBox {
            id: sweepModeCombo

            implicitWidth: 180
            model: ['Off', 'Pass Through', 'Build Up', 'Clear Away']
            onActivated: filter.set('Sweep Mode', currentText)
        }

        Shotcut.UndoButton {
            onClicked: {
                filter.set('Sweep Mode', 'Off');
                sweepModeCombo.currentIndex = 0;
            }
        }

        Item {
            width: 1
        }

        Label {
            text: 'Sweep Direction'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.ComboBox {
            id: sweepDirectionCombo

            implicitWidth: 180
            model: ['Left to Right', 'Right to Left', 'Top to Bottom', 'Bottom to Top']
            onActivated: filter.set('Sweep Direction', currentText)
        }

        Shotcut.UndoButton {
            onClicked: {
                filter.set('Sweep Direction', 'Left to Right');
                sweepDirectionCombo.currentIndex = 0;
            }
        }

        Item {
            width: 1
        }

        Label {
            text: 'Sweep Position (%)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: sweepPositionSlider

            minimumValue: 0
            maximumValue: 100
            decimals: 2
            suffix: '%'
            onValueChanged: updateFilter('Sweep Position (%)', value / 100, sweepPositionKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: sweepPositionSlider.value = 50
        }

        Shotcut.KeyframesButton {
            id: sweepPositionKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Sweep Position (%)', sweepPositionSlider.value / 100);
            }
        }

        Label {
            text: 'Band Width (%)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: bandWidthSlider

            minimumValue: 0
            maximumValue: 100
            decimals: 2
            suffix: '%'
            onValueChanged: updateFilter('Band Width (%)', value / 100, bandWidthKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: bandWidthSlider.value = 30
        }

        Shotcut.KeyframesButton {
            id: bandWidthKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Band Width (%)', bandWidthSlider.value / 100);
            }
        }

        Label {
            text: 'Edge Feather (%)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: edgeFeatherSlider

            minimumValue: 0
            maximumValue: 100
            decimals: 2
            suffix: '%'
            onValueChanged: updateFilter('Edge Feather (%)', value / 100, edgeFeatherKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: edgeFeatherSlider.value = 50
        }

        Shotcut.KeyframesButton {
            id: edgeFeatherKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Edge Feather (%)', edgeFeatherSlider.value / 100);
            }
        }

        Label {
            text: 'Mask Source'
            font.bold: true
            Layout.columnSpan: 4
        }

        Label {
            text: 'Stretch Tip Feather (%)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: stretchTipFeatherSlider

            minimumValue: 0
            maximumValue: 100
            decimals: 2
            suffix: '%'
            onValueChanged: updateFilter('Stretch Tip Feather (%)', value / 100, stretchTipFeatherKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: stretchTipFeatherSlider.value = 15
        }

        Shotcut.KeyframesButton {
            id: stretchTipFeatherKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Stretch Tip Feather (%)', stretchTipFeatherSlider.value / 100);
            }
        }

        Label {
            text: 'Streams and Particles'
            font.bold: true
            Layout.columnSpan: 4
        }

        Label {
            text: 'Composite'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.ComboBox {
            id: compositeCombo

            implicitWidth: 180
            model: ['Over Original', 'Streams Only']
            onActivated: filter.set('Composite', currentText)
        }

        Shotcut.UndoButton {
            onClicked: {
                filter.set('Composite', 'Over Original');
                compositeCombo.currentIndex = 0;
            }
        }

        Item {
            width: 1
        }

        Label {
            text: 'Emitter Spacing (px)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: emitterSpacingPxSlider

            minimumValue: 1
            maximumValue: 64
            decimals: 2
            suffix: ' px'
            onValueChanged: updateFilter('Emitter Spacing (px)', value / 64, emitterSpacingPxKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: emitterSpacingPxSlider.value = 12
        }

        Shotcut.KeyframesButton {
            id: emitterSpacingPxKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Emitter Spacing (px)', emitterSpacingPxSlider.value / 64);
            }
        }

        Label {
            text: 'Stream Size (px)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: streamSizePxSlider

            minimumValue: 0
            maximumValue: 24
            decimals: 2
            suffix: ' px'
            onValueChanged: updateFilter('Stream Size (px)', value / 24, streamSizePxKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: streamSizePxSlider.value = 3
        }

        Shotcut.KeyframesButton {
            id: streamSizePxKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Stream Size (px)', streamSizePxSlider.value / 24);
            }
        }

        Label {
            text: 'Lifespan (sec)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: lifespanSecSlider

            minimumValue: 0.05
            maximumValue: 6
            decimals: 2
            suffix: ' s'
            onValueChanged: updateFilter('Lifespan (sec)', value / 6, lifespanSecKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: lifespanSecSlider.value = 2.5
        }

        Shotcut.KeyframesButton {
            id: lifespanSecKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Lifespan (sec)', lifespanSecSlider.value / 6);
            }
        }

        Label {
            text: 'Launch Speed (px/sec)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: launchSpeedPxSecSlider

            minimumValue: 0
            maximumValue: 1000
            decimals: 2
            suffix: ' px/s'
            onValueChanged: updateFilter('Launch Speed (px/sec)', value / 1000, launchSpeedPxSecKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: launchSpeedPxSecSlider.value = 260
        }

        Shotcut.KeyframesButton {
            id: launchSpeedPxSecKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Launch Speed (px/sec)', launchSpeedPxSecSlider.value / 1000);
            }
        }

        Label {
            text: 'Trail Length (sec)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: trailLengthSecSlider

            minimumValue: 0
            maximumValue: 6
            decimals: 2
            suffix: ' s'
            onValueChanged: updateFilter('Trail Length (sec)', value / 6, trailLengthSecKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: trailLengthSecSlider.value = 1.2
        }

        Shotcut.KeyframesButton {
            id: trailLengthSecKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Trail Length (sec)', trailLengthSecSlider.value / 6);
            }
        }

        Label {
            text: 'Particle Count'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: particleCountSlider

            minimumValue: 0
            maximumValue: 4000
            decimals: 0
            suffix: ''
            onValueChanged: updateFilter('Particle Count', value / 4000, particleCountKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: particleCountSlider.value = 1500
        }

        Shotcut.KeyframesButton {
            id: particleCountKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Particle Count', particleCountSlider.value / 4000);
            }
        }

        Label {
            text: 'Birth Size (%)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: birthSizeSlider

            minimumValue: 0
            maximumValue: 300
            decimals: 2
            suffix: '%'
            onValueChanged: updateFilter('Birth Size (%)', value / 100, birthSizeKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: birthSizeSlider.value = 100
        }

        Shotcut.KeyframesButton {
            id: birthSizeKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Birth Size (%)', birthSizeSlider.value / 100);
            }
        }

        Label {
            text: 'End Size (%)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: endSizeSlider

            minimumValue: 0
            maximumValue: 300
            decimals: 2
            suffix: '%'
            onValueChanged: updateFilter('End Size (%)', value / 100, endSizeKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: endSizeSlider.value = 0
        }

        Shotcut.KeyframesButton {
            id: endSizeKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'End Size (%)', endSizeSlider.value / 100);
            }
        }

        Label {
            text: 'Growth Curve'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: growthCurveSlider

            minimumValue: 0.1
            maximumValue: 4
            decimals: 2
            suffix: ''
            onValueChanged: updateFilter('Growth Curve', value / 4, growthCurveKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: growthCurveSlider.value = 1
        }

        Shotcut.KeyframesButton {
            id: growthCurveKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Growth Curve', growthCurveSlider.value / 4);
            }
        }

        Label {
            text: 'Stream Opacity (%)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: streamOpacitySlider

            minimumValue: 0
            maximumValue: 100
            decimals: 2
            suffix: '%'
            onValueChanged: updateFilter('Stream Opacity (%)', value / 100, streamOpacityKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: streamOpacitySlider.value = 85
        }

        Shotcut.KeyframesButton {
            id: streamOpacityKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Stream Opacity (%)', streamOpacitySlider.value / 100);
            }
        }

        Label {
            text: 'Pre-roll Particles'
            Layout.alignment: Qt.AlignRight
        }

        CheckBox {
            id: preRollParticlesCheck

            onClicked: filter.set('Pre-roll Particles', checked ? 1 : 0)
        }

        Shotcut.UndoButton {
            onClicked: {
                filter.set('Pre-roll Particles', 1);
                preRollParticlesCheck.checked = true;
            }
        }

        Item {
            width: 1
        }

        Label {
            text: 'Forces'
            font.bold: true
            Layout.columnSpan: 4
        }

        Label {
            text: 'Launch Spread (deg)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: launchSpreadDegSlider

            minimumValue: 0
            maximumValue: 360
            decimals: 2
            suffix: '°'
            onValueChanged: updateFilter('Launch Spread (deg)', value / 360, launchSpreadDegKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: launchSpreadDegSlider.value = 0
        }

        Shotcut.KeyframesButton {
            id: launchSpreadDegKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Launch Spread (deg)', launchSpreadDegSlider.value / 360);
            }
        }

        Label {
            text: 'Center X (%)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: centerXSlider

            minimumValue: -200
            maximumValue: 300
            decimals: 2
            suffix: '%'
            onValueChanged: updateFilter('Center X (%)', value / 100, centerXKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: centerXSlider.value = 50
        }

        Shotcut.KeyframesButton {
            id: centerXKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Center X (%)', centerXSlider.value / 100);
            }
        }

        Label {
            text: 'Center Y (%)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: centerYSlider

            minimumValue: -200
            maximumValue: 300
            decimals: 2
            suffix: '%'
            onValueChanged: updateFilter('Center Y (%)', value / 100, centerYKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: centerYSlider.value = 50
        }

        Shotcut.KeyframesButton {
            id: centerYKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Center Y (%)', centerYSlider.value / 100);
            }
        }

        Label {
            text: 'Attractor Strength'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: attractorStrengthSlider

            minimumValue: 0
            maximumValue: 1500
            decimals: 2
            suffix: ''
            onValueChanged: updateFilter('Attractor Strength', value / 1500, attractorStrengthKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: attractorStrengthSlider.value = 0
        }

        Shotcut.KeyframesButton {
            id: attractorStrengthKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Attractor Strength', attractorStrengthSlider.value / 1500);
            }
        }

        Label {
            text: 'Repeller X (%)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: repellerXSlider

            minimumValue: -200
            maximumValue: 300
            decimals: 2
            suffix: '%'
            onValueChanged: updateFilter('Repeller X (%)', value / 100, repellerXKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: repellerXSlider.value = 50
        }

        Shotcut.KeyframesButton {
            id: repellerXKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Repeller X (%)', repellerXSlider.value / 100);
            }
        }

        Label {
            text: 'Repeller Y (%)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: repellerYSlider

            minimumValue: -200
            maximumValue: 300
            decimals: 2
            suffix: '%'
            onValueChanged: updateFilter('Repeller Y (%)', value / 100, repellerYKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: repellerYSlider.value = 50
        }

        Shotcut.KeyframesButton {
            id: repellerYKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Repeller Y (%)', repellerYSlider.value / 100);
            }
        }

        Label {
            text: 'Repeller Strength'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: repellerStrengthSlider

            minimumValue: 0
            maximumValue: 1500
            decimals: 2
            suffix: ''
            onValueChanged: updateFilter('Repeller Strength', value / 1500, repellerStrengthKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: repellerStrengthSlider.value = 0
        }

        Shotcut.KeyframesButton {
            id: repellerStrengthKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Repeller Strength', repellerStrengthSlider.value / 1500);
            }
        }

        Label {
            text: 'Force Radius (px)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: forceRadiusPxSlider

            minimumValue: 1
            maximumValue: 2000
            decimals: 2
            suffix: ' px'
            onValueChanged: updateFilter('Force Radius (px)', value / 2000, forceRadiusPxKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: forceRadiusPxSlider.value = 600
        }

        Shotcut.KeyframesButton {
            id: forceRadiusPxKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Force Radius (px)', forceRadiusPxSlider.value / 2000);
            }
        }

        Label {
            text: 'Wind Direction (deg)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: windDirectionDegSlider

            minimumValue: -3600
            maximumValue: 3600
            decimals: 2
            suffix: '°'
            onValueChanged: updateFilter('Wind Direction (deg)', value / 360, windDirectionDegKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: windDirectionDegSlider.value = 0
        }

        Shotcut.KeyframesButton {
            id: windDirectionDegKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Wind Direction (deg)', windDirectionDegSlider.value / 360);
            }
        }

        Label {
            text: 'Wind Strength'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: windStrengthSlider

            minimumValue: 0
            maximumValue: 1500
            decimals: 2
            suffix: ''
            onValueChanged: updateFilter('Wind Strength', value / 1500, windStrengthKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: windStrengthSlider.value = 0
        }

        Shotcut.KeyframesButton {
            id: windStrengthKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Wind Strength', windStrengthSlider.value / 1500);
            }
        }

        Label {
            text: 'Random Force'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: randomForceSlider

            minimumValue: 0
            maximumValue: 1500
            decimals: 2
            suffix: ''
            onValueChanged: updateFilter('Random Force', value / 1500, randomForceKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: randomForceSlider.value = 0
        }

        Shotcut.KeyframesButton {
            id: randomForceKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Random Force', randomForceSlider.value / 1500);
            }
        }

        Label {
            text: 'Random Scale (px)'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: randomScalePxSlider

            minimumValue: 4
            maximumValue: 600
            decimals: 2
            suffix: ' px'
            onValueChanged: updateFilter('Random Scale (px)', value / 600, randomScalePxKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: randomScalePxSlider.value = 180
        }

        Shotcut.KeyframesButton {
            id: randomScalePxKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Random Scale (px)', randomScalePxSlider.value / 600);
            }
        }

        Label {
            text: 'Random Evolution'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: randomEvolutionSlider

            minimumValue: 0
            maximumValue: 3
            decimals: 2
            suffix: ''
            onValueChanged: updateFilter('Random Evolution', value / 3, randomEvolutionKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: randomEvolutionSlider.value = 0.35
        }

        Shotcut.KeyframesButton {
            id: randomEvolutionKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Random Evolution', randomEvolutionSlider.value / 3);
            }
        }

        Label {
            text: 'Drag'
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: dragSlider

            minimumValue: 0
            maximumValue: 5
            decimals: 2
            suffix: ''
            onValueChanged: updateFilter('Drag', value / 5, dragKeyframes, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: dragSlider.value = 0.2
        }

        Shotcut.KeyframesButton {
            id: dragKeyframes

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, 'Drag', dragSlider.value / 5);
            }
        }

        Item {
            Layout.fillHeight: true
        }

    }

    Connections {
        function onChanged() {
            setControls();
        }

        function onInChanged() {
            updateSimpleKeyframes();
        }

        function onOutChanged() {
            updateSimpleKeyframes();
        }

        function onAnimateInChanged() {
            updateSimpleKeyframes();
        }

        function onAnimateOutChanged() {
            updateSimpleKeyframes();
        }

        function onPropertyChanged(name) {
            setControls();
        }

        target: filter
    }

    Connections {
        function onPositionChanged() {
            setControls();
        }

        target: producer
    }

}
