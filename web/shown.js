// The instrument shown: keldo's text for it as the command prints it, its pictures, and the
// buttons that act on it. Showing another ends any note of the one before.
import { parseInstrument, drawWave, drawEnvelope, drawNothing } from './draw.js';
import { stopNotes } from './player.js';
import { ui } from './ui.js';

export function showPictures(text) {
    const instrument = parseInstrument(text);
    if (!instrument) {
        for (const id of ['wave', 'volume', 'pitch'])
            drawNothing(ui[id], 'No instrument', 'no instrument');
        return;
    }
    drawWave(ui.wave, instrument.wave);
    drawEnvelope(ui.volume, 'Volume envelope', instrument.volume, false);
    drawEnvelope(ui.pitch, 'Pitch envelope', instrument.pitch, true);
}

// Shows `output`, keldo's bytes; the buttons only when `succeeded`, an instrument.
export function show(output, succeeded) {
    const text = new TextDecoder('shift_jis').decode(output);
    stopNotes();
    ui.mml.textContent = text;
    for (const button of [ui.copy, ui.save, ui.play, ui.saveWav, ui.saveCycle, ui.copyWave, ui.saveFui, ui.copyEnvelopes])
        button.disabled = !succeeded;
    showPictures(text);
    return text;
}

// The text of the instrument shown.
export const shownText = () => ui.mml.textContent;
