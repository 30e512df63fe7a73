// Drives the LAN web portal in a real Chromium and prints what it saw as one JSON line.
//   node portal-check.js URL PIN UPLOAD_FILE DOWNLOAD_TO SCREENSHOT CLIPBOARD_TEXT
// Every step waits for the page's own visible result; any failure exits non-zero with the reason.
const fs = require('fs');
const os = require('os');
const path = require('path');
const { chromium } = require('playwright-core');

const [url, pin, uploadFile, downloadTo, screenshot, clipboardText] = process.argv.slice(2);

async function main() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vornsled-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    acceptDownloads: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const seen = {};
  try {
    const page = await context.newPage();
    page.setDefaultTimeout(20000);
    await page.goto(url);
    seen.title = await page.title();

    // No PIN yet: the share list asks for one and an upload is refused.
    await page.locator('#shares', { hasText: 'Enter valid PIN to view shared files.' }).waitFor();
    seen.wrongPINShares = (await page.locator('#shares').innerText()).trim();
    await page.setInputFiles('#picker', uploadFile);
    await page.locator('#uploadLog div', { hasText: 'HTTP 401' }).waitFor();

    // With the PIN: upload, clipboard both ways, shares and a download.
    await page.fill('#pin', pin);
    await page.setInputFiles('#picker', uploadFile);
    await page.locator('#uploadLog div', { hasText: ' verified (' }).waitFor();
    seen.uploadLog = (await page.locator('#uploadLog').innerText()).trim().split('\n');

    await page.fill('#clipText', 'typed in the browser');
    await page.click('#sendClip');
    await page.locator('#clipStatus', { hasText: 'Sleded to this computer!' }).waitFor();
    await page.fill('#clipText', '');
    await page.click('#fetchClip');
    await page.locator('#clipStatus', { hasText: 'Loaded from this computer!' }).waitFor();
    seen.fetchedClipboard = await page.inputValue('#clipText');
    if (seen.fetchedClipboard !== clipboardText) {
      throw new Error('fetched clipboard text differs: ' + seen.fetchedClipboard);
    }

    await page.click('#refreshShares');
    await page.locator('#shares .item').first().waitFor();
    seen.shares = await page.locator('#shares .item').allInnerTexts();
    const [download] = await Promise.all([
      page.waitForEvent('download'),
      page.locator('#shares .item a').first().click(),
    ]);
    await download.saveAs(downloadTo);
    seen.downloadName = download.suggestedFilename();

    await page.screenshot({ path: screenshot, fullPage: true });

    // A browser without Web Crypto sends no digest; the page must not claim a verification.
    const bare = await context.newPage();
    bare.setDefaultTimeout(20000);
    await bare.addInitScript(() => {
      Object.defineProperty(Crypto.prototype, 'subtle', { get: () => undefined });
    });
    await bare.goto(url);
    await bare.fill('#pin', pin);
    await bare.setInputFiles('#picker', uploadFile);
    await bare.locator('#uploadLog div', { hasText: 'uploaded (not verified)' }).waitFor();
    seen.unverifiedLog = (await bare.locator('#uploadLog').innerText()).trim().split('\n');
  } finally {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
  process.stdout.write(JSON.stringify(seen) + '\n');
}

main().catch((error) => {
  process.stderr.write(String(error && error.stack || error) + '\n');
  process.exit(1);
});
