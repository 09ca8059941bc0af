// Fills in and submits a form in Debian's headless Chromium, for
// browser_test.py. Reads a job from standard input:
//   {"profile": DIR, "cases": [{"name", "url", "fields": {NAME: VALUE},
//    "form_png": PATH, "page_png": PATH}]}
// A file input's VALUE is the path of the file to choose.
// and writes one JSON line per case: {"name", "status", "title", "text",
// "seconds"} (the response page as rendered), or {"name", "error"}.
import { chromium } from 'playwright-core';
import { readFileSync } from 'node:fs';

const job = JSON.parse(readFileSync(0, 'utf8'));
// A fresh profile, and nothing that talks to anything but the test's server.
const context = await chromium.launchPersistentContext(job.profile, {
  executablePath: '/usr/bin/chromium',
  headless: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
try {
  for (const c of job.cases) {
    try {
      const page = await context.newPage();
      await page.goto(c.url);
      for (const [name, value] of Object.entries(c.fields)) {
        const field = page.locator(`[name="${name}"]`);
        if (await field.getAttribute('type') === 'file') {
          await field.setInputFiles(value);
        } else {
          await field.fill(value);
        }
      }
      await page.screenshot({ path: c.form_png, fullPage: true });
      const start = Date.now();
      const [response] = await Promise.all([
        page.waitForNavigation({ waitUntil: 'load' }),
        page.click('input[type="submit"]'),
      ]);
      const seconds = (Date.now() - start) / 1000;
      await page.screenshot({ path: c.page_png, fullPage: true });
      console.log(JSON.stringify({
        name: c.name, status: response ? response.status() : 0, title: await page.title(),
        text: await page.evaluate(() => document.body ? document.body.innerText : ''), seconds,
      }));
      await page.close();
    } catch (e) {
      console.log(JSON.stringify({ name: c.name, error: String(e) }));
    }
  }
} finally {
  await context.close();
}
