// The pitch mode: what the player takes a pitch envelope's entry to mean (see sound.js), chosen
// in #pitch-mode and remembered between visits.
import { PITCH_MODES } from './sound.js';
import { ui } from './ui.js';

const KEPT_AS = 'keldo-pitch-mode';

// A page whose storage the browser refuses (a private window, a page from the disk in some)
// chooses afresh each visit.
function kept() {
    try {
        return localStorage.getItem(KEPT_AS);
    } catch {
        return null;
    }
}

function keep(mode) {
    try {
        localStorage.setItem(KEPT_AS, mode);
    } catch {
        // chosen for this visit only
    }
}

export const pitchMode = () => ui.pitchMode.value;

export function setUpPitchMode() {
    const mode = kept();
    if (PITCH_MODES.includes(mode))
        ui.pitchMode.value = mode;
    ui.pitchMode.addEventListener('change', () => keep(pitchMode()));
}
