// The service worker that keeps the page working without a network once it has loaded: it keeps
// a copy of every file of the page (files.json lists them), and answers from that copy only when
// the network fails, so the page is never stale while online.
const CACHE = 'keldo-page';

self.addEventListener('install', (event) => {
    event.waitUntil((async () => {
        const files = await (await fetch('files.json', { cache: 'no-store' })).json();
        await (await caches.open(CACHE)).addAll(['./', ...files]);
        await self.skipWaiting();
    })());
});

self.addEventListener('activate', (event) => event.waitUntil(self.clients.claim()));

self.addEventListener('fetch', (event) => {
    event.respondWith((async () => {
        try {
            const response = await fetch(event.request);
            if (response.ok && event.request.method === 'GET')
                await (await caches.open(CACHE)).put(event.request, response.clone());
            return response;
        } catch (error) {
            const kept = await caches.match(event.request, { ignoreSearch: true });
            if (kept)
                return kept;
            throw error;
        }
    })());
});
