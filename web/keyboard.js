// The keys that play the shown instrument: two octaves of piano keys on the screen from the
// octave chosen in #octave, the two rows of the computer's keys that trackers use, and a MIDI
// keyboard. Each key starts its note while it is down and ends it when it is let go.
import { endNote, onSounding, startNote } from './player.js';
import { frequencyOf, noteName } from './sound.js';
import { ui } from './ui.js';

// By physical key (event.code), so that every layout plays the same places: C to B of the
// chosen octave on the lower row, the octave above on the upper one.
const ROWS = ['KeyZ', 'KeyS', 'KeyX', 'KeyD', 'KeyC', 'KeyV', 'KeyG', 'KeyB', 'KeyH', 'KeyN', 'KeyJ', 'KeyM',
              'KeyQ', 'Digit2', 'KeyW', 'Digit3', 'KeyE', 'KeyR', 'Digit5', 'KeyT', 'Digit6', 'KeyY', 'Digit7', 'KeyU'];
const BLACK = [1, 3, 6, 8, 10];  // of the twelve notes from C
const held = new Map();  // a computer key held down, by its code: the note it started
const pointers = new Map();  // a pointer down on a key, by its id: the note it started

// MIDI note number of C in the chosen octave (C4 is 60).
const firstNote = () => 12 * (Number(ui.octave.value) + 1);

function sayPlayer(text) {
    ui.playerStatus.textContent = text;
}

async function press(number) {
    const failed = await startNote(number, frequencyOf(number));
    if (failed)
        sayPlayer(failed);
}

function drawKeys() {
    ui.keyboard.replaceChildren(...Array.from({ length: 24 }, (_, i) => {
        const key = document.createElement('button');
        key.type = 'button';
        key.className = BLACK.includes(i % 12) ? 'black' : 'white';
        key.dataset.note = noteName(firstNote() + i);
        key.dataset.number = firstNote() + i;
        key.textContent = key.dataset.note;
        key.setAttribute('aria-pressed', 'false');
        return key;
    }));
}

function showSounding(number) {
    for (const key of ui.keyboard.children)
        key.setAttribute('aria-pressed', String(Number(key.dataset.number) === number));
}

// The keys play wherever the focus is but in a field that takes text: a menu or a file box just
// chosen from keeps the focus, and none of these keys means anything there (the key's default,
// a menu's search by first letter, is prevented).
const NOT_TEXT = new Set(['button', 'checkbox', 'color', 'file', 'image', 'radio', 'range', 'reset', 'submit']);
const typing = (target) => target instanceof Element &&
    (target.closest('textarea, [contenteditable]:not([contenteditable="false"])') || (target instanceof HTMLInputElement && !NOT_TEXT.has(target.type)));

function keyDown(event) {
    const at = ROWS.indexOf(event.code);
    if (at < 0 || event.ctrlKey || event.altKey || event.metaKey || typing(event.target))
        return;
    event.preventDefault();
    if (event.repeat || held.has(event.code))  // one note for a key held down
        return;
    held.set(event.code, firstNote() + at);
    press(firstNote() + at);
}

function keyUp(event) {
    if (!held.has(event.code))
        return;
    endNote(held.get(event.code));
    held.delete(event.code);
}

// A touch captures its pointer to the key it started on: released, sliding off the key ends the
// note as it does for a mouse.
function pointerDown(event) {
    const key = event.target.closest('#keyboard > button');
    if (!key)
        return;
    event.preventDefault();
    key.releasePointerCapture?.(event.pointerId);
    pointers.set(event.pointerId, Number(key.dataset.number));
    press(Number(key.dataset.number));
}

function pointerUp(event) {
    if (!pointers.has(event.pointerId))
        return;
    endNote(pointers.get(event.pointerId));
    pointers.delete(event.pointerId);
}

// Note-on with a velocity above 0 starts a note, note-off or note-on with velocity 0 ends it,
// from any input and on any channel.
function midiMessage({ data: [status, number, velocity] }) {
    const kind = status & 0xf0;
    if (kind === 0x90 && velocity > 0)
        press(number);
    else if (kind === 0x80 || kind === 0x90)
        endNote(number);
}

async function listenToMidi() {
    if (!navigator.requestMIDIAccess)
        return sayPlayer('This browser has no MIDI: play the keys on the screen or the computer\'s keys.');
    let access;
    try {
        access = await navigator.requestMIDIAccess();
    } catch (error) {
        return sayPlayer(`The browser refused MIDI (${error.name}): play the keys on the screen or the computer's keys.`);
    }
    const listen = () => {
        const inputs = [...access.inputs.values()];
        inputs.forEach((input) => (input.onmidimessage = midiMessage));
        sayPlayer(inputs.length ? `MIDI: playing from ${inputs.map((input) => input.name).join(', ')}.`
                                : 'MIDI: no keyboard is connected yet; one plugged in plays at once.');
    };
    access.onstatechange = listen;
    listen();
}

export function setUpKeyboard() {
    for (let octave = 1; octave <= 7; ++octave)
        ui.octave.append(new Option(String(octave), String(octave), octave === 4, octave === 4));
    drawKeys();
    ui.octave.addEventListener('change', drawKeys);
    onSounding(showSounding);
    document.addEventListener('keydown', keyDown);
    document.addEventListener('keyup', keyUp);
    addEventListener('blur', () => held.forEach((number, code) => keyUp({ code })));
    ui.keyboard.addEventListener('pointerdown', pointerDown);
    for (const type of ['pointerup', 'pointercancel', 'pointerout'])
        ui.keyboard.addEventListener(type, pointerUp);
    ui.keyboard.addEventListener('contextmenu', (event) => event.preventDefault());  // a long touch
    ui.midi.addEventListener('click', listenToMidi);
}
