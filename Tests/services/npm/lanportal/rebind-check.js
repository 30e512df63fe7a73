// Opens the server in a real Chromium under two names that both resolve to this machine: a name
// an outsider controls (as after re-pointing it) and the machine's own ".local" name. Prints what
// each page saw as one JSON line.
//   node rebind-check.js PORT FOREIGN_NAME OWN_NAME PIN
const fs = require('fs');
const os = require('os');
const path = require('path');
const { chromium } = require('playwright-core');

const [port, foreignName, ownName, pin] = process.argv.slice(2);

async function visit(context, name) {
  const page = await context.newPage();
  page.setDefaultTimeout(20000);
  const origin = 'http://' + name + ':' + port;
  const response = await page.goto(origin + '/');
  const seen = { status: response.status(), text: (await page.locator('body').innerText()).trim() };
  // The page's own script reads what it can from its own origin.
  seen.clipboard = await page.evaluate(async (pinValue) => {
    const reply = await fetch('/api/v1/clipboard', { headers: { 'X-VornSled-PIN': pinValue } });
    return { status: reply.status, body: await reply.text() };
  }, pin);
  seen.title = await page.title();
  return seen;
}

async function main() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vornsled-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--no-proxy-server',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           '--host-resolver-rules=MAP ' + foreignName + ' 127.0.0.1, MAP ' + ownName + ' 127.0.0.1'],
  });
  const seen = {};
  try {
    seen.foreign = await visit(context, foreignName);
    seen.own = await visit(context, ownName);
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
