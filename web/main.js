// The page's wiring: the files chosen, dropped or opened with the page (gather.js) are run
// (run.js) and their instruments listed (list.js); the one chosen is shown (shown.js), copied
// and saved (save.js), and played by Play and by the keys (player.js, keyboard.js).
import { fromDrop, fromInput, fromLaunch } from './gather.js';
import { setUpKeyboard } from './keyboard.js';
import { setUpList } from './list.js';
import { setUpPitchMode } from './pitch-mode.js';
import { startNote } from './player.js';
import { cancel, run } from './run.js';
import { chosenFrequency, setUpSaving } from './save.js';
import { showPictures } from './shown.js';
import { NOTES } from './sound.js';
import { ui } from './ui.js';

// A page in one file is its own offline copy.
if ('serviceWorker' in navigator && !document.getElementById('worker.js'))
    navigator.serviceWorker.register('offline.js').catch(() => {});

const PLAY_SECONDS = 1;

// Each box, a drop and the system's "open with" give the run their files, several at once. A box
// is emptied once its files are taken, so that choosing the same ones again is a new choice.
for (const input of [ui.file, ui.folder]) {
    input.addEventListener('change', () => {
        const files = fromInput(input);
        input.value = '';
        run(files);
    });
}
if ('launchQueue' in window)
    window.launchQueue.setConsumer(async (launched) => launched.files?.length && run(await fromLaunch(launched)));
ui.cancel.addEventListener('click', cancel);
setUpList();
setUpSaving();
ui.note.append(...NOTES.map(({ name }) => new Option(name, name, name === 'A4', name === 'A4')));
ui.play.addEventListener('click', async () => {
    const failed = await startNote('play', chosenFrequency(), PLAY_SECONDS);
    if (failed)
        ui.playerStatus.textContent = failed;
});
setUpKeyboard();
setUpPitchMode();
document.addEventListener('dragover', (event) => {
    event.preventDefault();
    ui.drop.classList.add('over');
});
document.addEventListener('dragleave', () => ui.drop.classList.remove('over'));
document.addEventListener('drop', (event) => {
    event.preventDefault();
    ui.drop.classList.remove('over');
    fromDrop(event.dataTransfer).then(run);
});
showPictures('');
