-- The demo shop for MariaDB: the same tables and rows as postgresql.sql.
-- Every value comes from arithmetic on the row number, so two loads on the same day give
-- the same rows; times are relative to the moment of loading, so the example prompts
-- ("Show the 10 most recent orders", "Count users who signed up this month", …) always
-- find rows. Loading again replaces the tables.
-- Row numbers come from crossing a list of digits with itself: both servers stop
-- recursive queries after 1000 steps by default.
SET NAMES utf8mb4;

DROP TABLE IF EXISTS order_items, orders, products, customers, users;

CREATE TABLE users (
    id INT AUTO_INCREMENT PRIMARY KEY,
    name VARCHAR(100) NOT NULL,
    email VARCHAR(200) NOT NULL UNIQUE,
    plan VARCHAR(20) NOT NULL,
    country VARCHAR(60) NOT NULL,
    signed_up_at DATETIME NOT NULL
) ENGINE = InnoDB DEFAULT CHARSET = utf8mb4;

-- A customer is a user who has bought, or was about to.
CREATE TABLE customers (
    id INT AUTO_INCREMENT PRIMARY KEY,
    user_id INT NULL,
    name VARCHAR(100) NOT NULL,
    email VARCHAR(200) NOT NULL,
    city VARCHAR(60) NOT NULL,
    country VARCHAR(60) NOT NULL,
    created_at DATETIME NOT NULL,
    FOREIGN KEY (user_id) REFERENCES users (id) ON DELETE SET NULL
) ENGINE = InnoDB DEFAULT CHARSET = utf8mb4;

CREATE TABLE products (
    id INT AUTO_INCREMENT PRIMARY KEY,
    name VARCHAR(100) NOT NULL UNIQUE,
    category VARCHAR(40) NOT NULL,
    price DECIMAL(10, 2) NOT NULL,
    stock INT NOT NULL
) ENGINE = InnoDB DEFAULT CHARSET = utf8mb4;

CREATE TABLE orders (
    id INT AUTO_INCREMENT PRIMARY KEY,
    customer_id INT NOT NULL,
    status VARCHAR(20) NOT NULL,
    total DECIMAL(12, 2) NOT NULL DEFAULT 0,
    ordered_at DATETIME NOT NULL,
    INDEX orders_ordered_at (ordered_at),
    FOREIGN KEY (customer_id) REFERENCES customers (id) ON DELETE CASCADE
) ENGINE = InnoDB DEFAULT CHARSET = utf8mb4;

CREATE TABLE order_items (
    id INT AUTO_INCREMENT PRIMARY KEY,
    order_id INT NOT NULL,
    product_id INT NOT NULL,
    quantity INT NOT NULL,
    unit_price DECIMAL(10, 2) NOT NULL,
    FOREIGN KEY (order_id) REFERENCES orders (id) ON DELETE CASCADE,
    FOREIGN KEY (product_id) REFERENCES products (id)
) ENGINE = InnoDB DEFAULT CHARSET = utf8mb4;

-- 1000 users over the last 400 days; every 50th signed up at midnight today, so the
-- current month always has sign-ups, even on its first day.
INSERT INTO users (id, name, email, plan, country, signed_up_at)
WITH digits (d) AS (SELECT 0 UNION ALL SELECT 1 UNION ALL SELECT 2 UNION ALL SELECT 3 UNION ALL SELECT 4
                    UNION ALL SELECT 5 UNION ALL SELECT 6 UNION ALL SELECT 7 UNION ALL SELECT 8 UNION ALL SELECT 9),
seq (n) AS (SELECT 1 + a.d + 10 * b.d + 100 * c.d + 1000 * e.d FROM digits a, digits b, digits c, digits e),
names AS (
    SELECT n,
           ELT(1 + n % 30, 'Ada', 'Ben', 'Chloe', 'Dmitri', 'Elena', 'Farid', 'Grace', 'Hiro', 'Ines', 'Jonas', 'Kofi',
               'Lena', 'Mateo', 'Nora', 'Omar', 'Priya', 'Quinn', 'Rosa', 'Sven', 'Tomasz', 'Uma', 'Victor',
               'Wanda', 'Xavier', 'Yuki', 'Zara', 'Amir', 'Beatriz', 'Carmen', 'Dario') AS first,
           ELT(1 + (n * 7 + n DIV 30) % 25, 'Abbott', 'Bauer', 'Costa', 'Dubois', 'Eriksen', 'Fischer', 'Garcia',
               'Horvat', 'Ito', 'Jansen', 'Kowalski', 'Larsen', 'Moreau', 'Novak', 'Okafor', 'Petrov', 'Quintero',
               'Rossi', 'Schmidt', 'Tanaka', 'Urban', 'Varga', 'Weber', 'Yilmaz', 'Zielinski') AS last
    FROM seq
    WHERE n <= 1000)
SELECT n,
       CONCAT(first, ' ', last),
       CONCAT(LOWER(first), '.', LOWER(last), n, '@example.com'),
       ELT(1 + n % 3, 'free', 'pro', 'team'),
       ELT(1 + (n * 3) % 10, 'Germany', 'Portugal', 'France', 'Spain', 'Poland', 'Norway', 'Austria', 'Ireland',
           'Czechia', 'Netherlands'),
       CASE WHEN n % 50 = 0 THEN CAST(CURRENT_DATE AS DATETIME)
            ELSE NOW() - INTERVAL ((n * 37) % 400) DAY - INTERVAL ((n * 131) % 1440) MINUTE END
FROM names
ORDER BY n;

-- The first 800 users are customers; customers 701 to 800 never ordered.
INSERT INTO customers (id, user_id, name, email, city, country, created_at)
SELECT id, id, name, email,
       ELT(1 + (id * 3) % 10, 'Berlin', 'Lisbon', 'Paris', 'Madrid', 'Warsaw', 'Oslo', 'Vienna', 'Dublin', 'Prague',
           'Amsterdam'),
       country, signed_up_at
FROM users
WHERE id <= 800
ORDER BY id;

-- 60 products: five lines of the same twelve articles.
INSERT INTO products (id, name, category, price, stock)
WITH digits (d) AS (SELECT 0 UNION ALL SELECT 1 UNION ALL SELECT 2 UNION ALL SELECT 3 UNION ALL SELECT 4
                    UNION ALL SELECT 5 UNION ALL SELECT 6 UNION ALL SELECT 7 UNION ALL SELECT 8 UNION ALL SELECT 9),
seq (n) AS (SELECT 1 + a.d + 10 * b.d + 100 * c.d + 1000 * e.d FROM digits a, digits b, digits c, digits e)
SELECT n,
       CONCAT(ELT(1 + (n - 1) DIV 12, 'Classic', 'Organic', 'Deluxe', 'Travel', 'Nordic'), ' ',
              ELT(1 + (n - 1) % 12, 'Espresso Beans', 'Green Tea', 'Chef Knife', 'Notebook', 'Watering Can',
                  'French Press', 'Teapot', 'Cutting Board', 'Cookbook', 'Fountain Pen', 'Plant Pot', 'Mug')),
       ELT(1 + (n - 1) % 12, 'Coffee', 'Tea', 'Kitchen', 'Stationery', 'Garden', 'Coffee', 'Tea', 'Kitchen', 'Books',
           'Stationery', 'Garden', 'Kitchen'),
       5.99 + (n * 37) % 115,
       (n * 53) % 200
FROM seq
WHERE n <= 60
ORDER BY n;

-- 3000 orders over the last year.
INSERT INTO orders (id, customer_id, status, ordered_at)
WITH digits (d) AS (SELECT 0 UNION ALL SELECT 1 UNION ALL SELECT 2 UNION ALL SELECT 3 UNION ALL SELECT 4
                    UNION ALL SELECT 5 UNION ALL SELECT 6 UNION ALL SELECT 7 UNION ALL SELECT 8 UNION ALL SELECT 9),
seq (n) AS (SELECT 1 + a.d + 10 * b.d + 100 * c.d + 1000 * e.d FROM digits a, digits b, digits c, digits e)
SELECT n,
       1 + (n * 7919) % 700,
       ELT(1 + (n * 11) % 10, 'delivered', 'delivered', 'delivered', 'delivered', 'delivered', 'shipped', 'shipped',
           'paid', 'pending', 'cancelled'),
       NOW() - INTERVAL ((n * n * 31 + n * 17) % 365) DAY - INTERVAL ((n * 53) % 1440) MINUTE
FROM seq
WHERE n <= 3000
ORDER BY n;

-- One to four items per order, at the product's price.
INSERT INTO order_items (id, order_id, product_id, quantity, unit_price)
SELECT (o.id - 1) * 4 + k.k, o.id, p.id, 1 + (o.id + k.k * 3) % 4, p.price
FROM orders o
     CROSS JOIN (SELECT 1 AS k UNION ALL SELECT 2 UNION ALL SELECT 3 UNION ALL SELECT 4) k
     JOIN products p ON p.id = 1 + (o.id * 31 + k.k * 17) % 60
WHERE k.k <= 1 + (o.id * 5) % 4
ORDER BY o.id, k.k;

UPDATE orders o
JOIN (SELECT order_id, SUM(quantity * unit_price) AS total FROM order_items GROUP BY order_id) s ON s.order_id = o.id
SET o.total = s.total;

ANALYZE TABLE users, customers, products, orders, order_items;
