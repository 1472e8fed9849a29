// Written by `lumatrail params --shotcut-meta` (`make docs`) from the effect's parameter table.
// The keyframes panel shows the frei0r values the properties hold (units / scale).
import QtQuick 2.0
import org.shotcut.qml 1.0

Metadata {
    type: Metadata.Filter
    name: 'Lumatrail'
    keywords: 'streaks pixel sorting particles force lines glitch lumatrail'
    mlt_service: 'frei0r.lumatrail'
    qml: 'ui.qml'

    keyframes {
        allowAnimateIn: true
        allowAnimateOut: true
        simpleProperties: ['Lower Brightness (%)', 'Upper Brightness (%)', 'Streak Length (px)', 'Length Variation (%)', 'Random Seed', 'Amount (%)', 'Sweep Position (%)', 'Band Width (%)', 'Edge Feather (%)', 'Stretch Tip Feather (%)', 'Emitter Spacing (px)', 'Stream Size (px)', 'Lifespan (sec)', 'Launch Speed (px/sec)', 'Trail Length (sec)', 'Particle Count', 'Birth Size (%)', 'End Size (%)', 'Growth Curve', 'Stream Opacity (%)', 'Launch Spread (deg)', 'Center X (%)', 'Center Y (%)', 'Attractor Strength', 'Repeller X (%)', 'Repeller Y (%)', 'Repeller Strength', 'Force Radius (px)', 'Wind Direction (deg)', 'Wind Strength', 'Random Force', 'Random Scale (px)', 'Random Evolution', 'Drag']
        parameters: [
            Parameter {
                name: 'Lower Brightness (%)'
                property: 'Lower Brightness (%)'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: 'Upper Brightness (%)'
                property: 'Upper Brightness (%)'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: 'Streak Length (px)'
                property: 'Streak Length (px)'
                isCurve: true
                minimum: 0.0005
                maximum: 1
            },
            Parameter {
                name: 'Length Variation (%)'
                property: 'Length Variation (%)'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: 'Random Seed'
                property: 'Random Seed'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: 'Amount (%)'
                property: 'Amount (%)'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: 'Sweep Position (%)'
                property: 'Sweep Position (%)'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: 'Band Width (%)'
                property: 'Band Width (%)'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: 'Edge Feather (%)'
                property: 'Edge Feather (%)'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: 'Stretch Tip Feather (%)'
                property: 'Stretch Tip Feather (%)'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: 'Emitter Spacing (px)'
                property: 'Emitter Spacing (px)'
                isCurve: true
                minimum: 0.0156
                maximum: 1
            },
            Parameter {
                name: 'Stream Size (px)'
                property: 'Stream Size (px)'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: 'Lifespan (sec)'
                property: 'Lifespan (sec)'
                isCurve: true
                minimum: 0.008
                maximum: 1
            },
            Parameter {
                name: 'Launch Speed (px/sec)'
                property: 'Launch Speed (px/sec)'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: 'Trail Length (sec)'
                property: 'Trail Length (sec)'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: 'Particle Count'
                property: 'Particle Count'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: 'Birth Size (%)'
                property: 'Birth Size (%)'
                isCurve: true
                minimum: 0
                maximum: 3
            },
            Parameter {
                name: 'End Size (%)'
                property: 'End Size (%)'
                isCurve: true
                minimum: 0
                maximum: 3
            },
            Parameter {
                name: 'Growth Curve'
                property: 'Growth Curve'
                isCurve: true
                minimum: 0.025
                maximum: 1
            },
            Parameter {
                name: 'Stream Opacity (%)'
                property: 'Stream Opacity (%)'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: 'Launch Spread (deg)'
                property: 'Launch Spread (deg)'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: 'Center X (%)'
                property: 'Center X (%)'
                isCurve: true
                minimum: -2
                maximum: 3
            },
            Parameter {
                name: 'Center Y (%)'
                property: 'Center Y (%)'
                isCurve: true
                minimum: -2
                maximum: 3
            },
            Parameter {
                name: 'Attractor Strength'
                property: 'Attractor Strength'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: 'Repeller X (%)'
                property: 'Repeller X (%)'
                isCurve: true
                minimum: -2
                maximum: 3
            },
            Parameter {
                name: 'Repeller Y (%)'
                property: 'Repeller Y (%)'
                isCurve: true
                minimum: -2
                maximum: 3
            },
            Parameter {
                name: 'Repeller Strength'
                property: 'Repeller Strength'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: 'Force Radius (px)'
                property: 'Force Radius (px)'
                isCurve: true
                minimum: 0.0005
                maximum: 1
            },
            Parameter {
                name: 'Wind Direction (deg)'
                property: 'Wind Direction (deg)'
                isCurve: true
                minimum: -1e+01
                maximum: 1e+01
            },
            Parameter {
                name: 'Wind Strength'
                property: 'Wind Strength'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: 'Random Force'
                property: 'Random Force'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: 'Random Scale (px)'
                property: 'Random Scale (px)'
                isCurve: true
                minimum: 0.006666667
                maximum: 1
            },
            Parameter {
                name: 'Random Evolution'
                property: 'Random Evolution'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: 'Drag'
                property: 'Drag'
                isCurve: true
                minimum: 0
                maximum: 1
            }
        ]
    }
}
